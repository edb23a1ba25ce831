// The seal codec object: decodes seals and seal signatures into plain values
// and builds the content to be signed and the final signature.
#pragma once

#include <openssl/asn1.h>

#include <cstddef>

// The interface header is compiled with default visibility here, so that
// the exported codec class may derive from it.
#pragma GCC visibility push(default)
#include "BasicSealInfo.h"
#pragma GCC visibility pop

#define SES_CODEC_EXPORT __attribute__((visibility("default")))

class SES_CODEC_EXPORT SesSealStru final : public BasicSealInfo {
 public:
  bool DecodeSeal(const unsigned char* seal, int sealLength, char* esID, char* name,
                  unsigned char* cert, int* certLength, unsigned char* makerCert,
                  int* makerCertLength, unsigned char* picture, int* pictureLength,
                  char* pictureType, int* width, int* height, char* createTime, char* validStart,
                  char* validEnd, char* vid, char* version, char* sealType,
                  char* signatureAlgorithm) override;

  bool DecodeSignature(const unsigned char* signature, int signatureLength, char* version,
                       unsigned char* seal, int* sealLength, char* timeInfo,
                       unsigned char* dataHash, int* dataHashLength, unsigned char* propertyInfo,
                       int* propertyInfoLength, unsigned char* cert, int* certLength,
                       char* signatureAlgorithm, unsigned char* signatureValue,
                       int* signatureValueLength, unsigned char* picture, int* pictureLength,
                       int* width, int* height) override;

  bool GetTbsSignData(unsigned char* seal, int sealLength, unsigned char** values, int** lengths,
                      int count, unsigned char* out, int* outLength) override;

  bool GetSignatureData(unsigned char* tbs, int tbsLength, unsigned char** values, int** lengths,
                        unsigned char* out, int* outLength) override;

  // The value of an INTEGER, read through its decimal text; -1 when it is
  // missing or does not fit a long.
  long AsnIntegerToLong(ASN1_INTEGER* value);

  // A new INTEGER from decimal text (the caller owns it); null when the text
  // is not a decimal number.
  ASN1_INTEGER* CharToAsnInteger(const char* text);

  // Formats UTCTime octets as "YYYY-MM-DD hh:mm:ss" (century 20) into out
  // (20 bytes with terminator) and stores the text length through outLength.
  // Either output may be null. Fewer than 12 digits end the text at the first
  // missing digit.
  void utcstringFormat(const unsigned char* time, int count, char* out, int* outLength);

  // The subject's common name of a DER certificate (at most 255 bytes), or
  // without one the subject's one-line form (at most 499 bytes), written
  // zero-terminated to out. False when the certificate does not parse.
  bool getCertUserInfo(const unsigned char* der, int length, char* out);
};

// Stores 8 through outLength and, when out is given, the content octets of
// the SM2-with-SM3 signature algorithm identifier (1.2.156.10197.1.501).
SES_CODEC_EXPORT void getSignMethod(unsigned char* out, int* outLength);

// Creates or truncates the file at path and writes count bytes (ten zero
// bytes when count is 0). Never fails its caller.
SES_CODEC_EXPORT void writeLog(const char* path, const unsigned char* data, unsigned long count);

extern "C" {
SES_CODEC_EXPORT BasicSealInfo* getObj();
SES_CODEC_EXPORT void freeObj(BasicSealInfo* object);
}
