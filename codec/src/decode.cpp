// DecodeSeal and DecodeSignature: decode afresh, check that every requested
// output can be produced, then fill the requested outputs.
#include <climits>
#include <string>
#include <vector>

#include "SesSealStru.h"
#include "field_out.h"
#include "ses_ptr.h"
#include "ses_text.h"

namespace {

using varo::ByteSpan;

ses::SealPtr decodeSeal(const unsigned char* der, int length) {
  const unsigned char* p = der;
  return ses::SealPtr(d2i_MYSESeal(nullptr, &p, length));
}

ses::SignaturePtr decodeSignature(const unsigned char* der, int length) {
  const unsigned char* p = der;
  return ses::SignaturePtr(d2i_MYSES_Signature(nullptr, &p, length));
}

// A stored integer as the int outputs report it; -1 when it cannot be
// converted or does not fit an int.
int intValue(SesSealStru& codec, ASN1_INTEGER* value) {
  long v = codec.AsnIntegerToLong(value);
  return v < INT_MIN || v > INT_MAX ? -1 : int(v);
}

void putTime(SesSealStru& codec, char* out, const ASN1_UTCTIME* time) {
  if (!out) return;
  ByteSpan octets = ses::bytesOf(time);
  codec.utcstringFormat(octets.data(), int(octets.size()), out, nullptr);
}

}  // namespace

bool SesSealStru::DecodeSeal(const unsigned char* seal, int sealLength, char* esID, char* name,
                             unsigned char* cert, int* certLength, unsigned char* makerCert,
                             int* makerCertLength, unsigned char* picture, int* pictureLength,
                             char* pictureType, int* width, int* height, char* createTime,
                             char* validStart, char* validEnd, char* vid, char* version,
                             char* sealType, char* signatureAlgorithm) {
  ses::SealPtr decoded = decodeSeal(seal, sealLength);
  if (!decoded) return false;
  const MYSES_SealInfo* info = decoded->esealInfo;
  const MYSES_ESPropertyInfo* property = info->property;
  const MYSES_ESPictureInfo* pictureInfo = info->picture;

  // The signer's certificate is the first entry of certList; a seal without
  // one cannot answer a request for it.
  ByteSpan firstCert;
  if (cert || certLength) {
    if (sk_ASN1_OCTET_STRING_num(property->certList) <= 0) return false;
    firstCert = ses::bytesOf(sk_ASN1_OCTET_STRING_value(property->certList, 0));
  }

  ses::putRaw(esID, ses::bytesOf(info->esID));
  ses::putRaw(name, ses::bytesOf(property->name));
  ses::putWithLength(cert, certLength, firstCert);
  ses::putWithLength(makerCert, makerCertLength, ses::bytesOf(decoded->signInfo->cert));
  ses::putWithLength(picture, pictureLength, ses::bytesOf(pictureInfo->data));
  ses::putRaw(pictureType, ses::bytesOf(pictureInfo->type));
  ses::putInt(width, intValue(*this, pictureInfo->width));
  ses::putInt(height, intValue(*this, pictureInfo->height));
  putTime(*this, createTime, property->createTime);
  putTime(*this, validStart, property->validStart);
  putTime(*this, validEnd, property->validEnd);
  ses::putRaw(vid, ses::bytesOf(info->header->vid));
  if (version) ses::putText(version, ses::decimalText(AsnIntegerToLong(info->header->version)));
  if (sealType) ses::putText(sealType, ses::sealTypeText(AsnIntegerToLong(property->type)));
  if (signatureAlgorithm)
    ses::putText(signatureAlgorithm, ses::objectText(decoded->signInfo->signatureAlgorithm));
  return true;
}

bool SesSealStru::DecodeSignature(const unsigned char* signature, int signatureLength,
                                  char* version, unsigned char* seal, int* sealLength,
                                  char* timeInfo, unsigned char* dataHash, int* dataHashLength,
                                  unsigned char* propertyInfo, int* propertyInfoLength,
                                  unsigned char* cert, int* certLength, char* signatureAlgorithm,
                                  unsigned char* signatureValue, int* signatureValueLength,
                                  unsigned char* picture, int* pictureLength, int* width,
                                  int* height) {
  ses::SignaturePtr decoded = decodeSignature(signature, signatureLength);
  if (!decoded) return false;
  const MYTBS_Sign* toSign = decoded->toSign;
  const MYSES_ESPictureInfo* pictureInfo = toSign->eseal->esealInfo->picture;

  std::vector<uint8_t> sealDer;
  if (seal || sealLength) {
    sealDer = ses::encode<MYSESeal>(toSign->eseal, i2d_MYSESeal);
    if (sealDer.empty()) return false;
  }

  if (version) ses::putText(version, ses::decimalText(AsnIntegerToLong(toSign->version)));
  ses::putWithLength(seal, sealLength, ByteSpan(sealDer.data(), sealDer.size()));
  ses::putRaw(timeInfo, ses::bytesOf(toSign->timeInfo));
  ses::putWithLength(dataHash, dataHashLength, ses::bytesOf(toSign->dataHash));
  ses::putWithLength(propertyInfo, propertyInfoLength, ses::bytesOf(toSign->propertyInfo));
  ses::putWithLength(cert, certLength, ses::bytesOf(toSign->cert));
  if (signatureAlgorithm)
    ses::putText(signatureAlgorithm, ses::objectText(toSign->signatureAlgorithm));
  ses::putWithLength(signatureValue, signatureValueLength, ses::bytesOf(decoded->signature));
  ses::putWithLength(picture, pictureLength, ses::bytesOf(pictureInfo->data));
  ses::putInt(width, intValue(*this, pictureInfo->width));
  ses::putInt(height, intValue(*this, pictureInfo->height));
  return true;
}
