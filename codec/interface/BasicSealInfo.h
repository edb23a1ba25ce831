// The seal codec's interface, shared by the codec, the provider and the
// driver. The codec library exports getObj (a new object) and freeObj (takes
// it back); the operations are dispatched through the table of virtual
// operations in this slot order. There is no virtual destructor and no data.
//
// Outputs are caller buffers without a size argument: the caller guarantees
// room for the field (a decoded field is never longer than the DER it came
// from). Every output may be null and is then skipped. Raw texts are copied
// without a terminating zero; derived texts (numbers, identifiers, times, the
// seal type) are zero-terminated.
#pragma once

class BasicSealInfo {
 public:
  // Decodes a seal (MYSESeal). False, with no output touched, when the bytes
  // are not a seal.
  virtual bool DecodeSeal(const unsigned char* seal, int sealLength, char* esID, char* name,
                          unsigned char* cert, int* certLength, unsigned char* makerCert,
                          int* makerCertLength, unsigned char* picture, int* pictureLength,
                          char* pictureType, int* width, int* height, char* createTime,
                          char* validStart, char* validEnd, char* vid, char* version,
                          char* sealType, char* signatureAlgorithm) {
    (void)seal, (void)sealLength, (void)esID, (void)name, (void)cert, (void)certLength;
    (void)makerCert, (void)makerCertLength, (void)picture, (void)pictureLength;
    (void)pictureType, (void)width, (void)height, (void)createTime, (void)validStart;
    (void)validEnd, (void)vid, (void)version, (void)sealType, (void)signatureAlgorithm;
    return false;
  }

  // Decodes a seal signature (MYSES_Signature).
  virtual bool DecodeSignature(const unsigned char* signature, int signatureLength, char* version,
                               unsigned char* seal, int* sealLength, char* timeInfo,
                               unsigned char* dataHash, int* dataHashLength,
                               unsigned char* propertyInfo, int* propertyInfoLength,
                               unsigned char* cert, int* certLength, char* signatureAlgorithm,
                               unsigned char* signatureValue, int* signatureValueLength,
                               unsigned char* picture, int* pictureLength, int* width,
                               int* height) {
    (void)signature, (void)signatureLength, (void)version, (void)seal, (void)sealLength;
    (void)timeInfo, (void)dataHash, (void)dataHashLength, (void)propertyInfo;
    (void)propertyInfoLength, (void)cert, (void)certLength, (void)signatureAlgorithm;
    (void)signatureValue, (void)signatureValueLength, (void)picture, (void)pictureLength;
    (void)width, (void)height;
    return false;
  }

  // Builds the DER of MYTBS_Sign. values: [0] document property, [1] document
  // digest, [2] signing method (not read), [3] signing time; lengths points
  // at their lengths; count is 4 (not read). A null output asks for the
  // length only.
  virtual bool GetTbsSignData(unsigned char* seal, int sealLength, unsigned char** values,
                              int** lengths, int count, unsigned char* out, int* outLength) {
    (void)seal, (void)sealLength, (void)values, (void)lengths, (void)count, (void)out;
    (void)outLength;
    return false;
  }

  // Builds the DER of MYSES_Signature from a MYTBS_Sign encoding and the
  // signature value in values[0] (length *lengths[0]).
  virtual bool GetSignatureData(unsigned char* tbs, int tbsLength, unsigned char** values,
                                int** lengths, unsigned char* out, int* outLength) {
    (void)tbs, (void)tbsLength, (void)values, (void)lengths, (void)out, (void)outLength;
    return false;
  }
};

extern "C" {
using CodecGetObjFn = BasicSealInfo* (*)();
using CodecFreeObjFn = void (*)(BasicSealInfo*);
}
