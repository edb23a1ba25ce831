// GetTbsSignData and GetSignatureData: build the content to be signed and the
// final signature. Everything written here is whole octets: the BIT STRING
// values keep every octet they were given, with an unused-bits octet of 0.
#include <openssl/objects.h>

#include <cstring>
#include <vector>

#include "SesSealStru.h"
#include "field_out.h"
#include "ses_ptr.h"
#include "ses_text.h"

namespace {

using varo::ByteSpan;

// Signer certificates travel in 4096-byte buffers through the whole system.
constexpr int kMaxSignerCertLength = 4096;
// Longest signing time accepted; readers take it back as a zero-terminated
// text in small fixed buffers.
constexpr size_t kMaxSigningTimeLength = 20;

enum Input { kProperty = 0, kDigest = 1, kMethod = 2, kTime = 3, kInputCount = 4 };

// Input value i of the values/lengths arrays; false when its length pointer
// is missing, its length negative, or its bytes missing for a length above 0.
bool inputAt(unsigned char** values, int** lengths, int i, ByteSpan* out) {
  if (!lengths[i] || *lengths[i] < 0) return false;
  if (*lengths[i] > 0 && !values[i]) return false;
  *out = ByteSpan(values[i], size_t(*lengths[i]));
  return true;
}

bool setOctets(ASN1_STRING* s, ByteSpan octets) {
  return ASN1_STRING_set(s, octets.data(), int(octets.size())) == 1;
}

// Replaces the object identifier member *slot.
bool setObject(ASN1_OBJECT** slot, const char* dotted) {
  ASN1_OBJECT* object = OBJ_txt2obj(dotted, 1);
  if (!object) return false;
  ASN1_OBJECT_free(*slot);
  *slot = object;
  return true;
}

void putEncoding(const std::vector<uint8_t>& der, unsigned char* out, int* outLength) {
  ses::putWithLength(out, outLength, ByteSpan(der.data(), der.size()));
}

}  // namespace

bool SesSealStru::GetTbsSignData(unsigned char* seal, int sealLength, unsigned char** values,
                                 int** lengths, int count, unsigned char* out, int* outLength) {
  if (!seal || sealLength <= 0 || !values || !lengths || count < kInputCount) return false;
  ByteSpan property, digest, time;
  if (!inputAt(values, lengths, kProperty, &property) ||
      !inputAt(values, lengths, kDigest, &digest) || !inputAt(values, lengths, kTime, &time))
    return false;
  // A zero octet would end the time text for every reader that takes it back.
  if (time.size() > kMaxSigningTimeLength || std::memchr(time.data(), 0, time.size())) return false;

  // The signer's certificate, through the seal decoder itself. A field is
  // never longer than the seal that holds it.
  std::vector<unsigned char> cert(static_cast<size_t>(sealLength));
  int certLength = 0;
  if (!DecodeSeal(seal, sealLength, nullptr, nullptr, cert.data(), &certLength, nullptr, nullptr,
                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr, nullptr))
    return false;
  if (certLength <= 0 || certLength > kMaxSignerCertLength) return false;

  const unsigned char* p = seal;
  ses::SealPtr decodedSeal(d2i_MYSESeal(nullptr, &p, sealLength));
  if (!decodedSeal) return false;

  ses::TbsSignPtr tbs(MYTBS_Sign_new());
  if (!tbs) return false;
  ASN1_INTEGER* version = CharToAsnInteger("2");
  if (!version) return false;
  ASN1_INTEGER_free(tbs->version);
  tbs->version = version;
  MYSESeal_free(tbs->eseal);
  tbs->eseal = decodedSeal.release();
  if (!ses::setWholeOctets(tbs->timeInfo, time) || !ses::setWholeOctets(tbs->dataHash, digest) ||
      !setOctets(tbs->propertyInfo, property) ||
      !setOctets(tbs->cert, ByteSpan(cert.data(), size_t(certLength))) ||
      !setObject(&tbs->signatureAlgorithm, ses::kSm2WithSm3Oid))
    return false;

  std::vector<uint8_t> der = ses::encode<MYTBS_Sign>(tbs.get(), i2d_MYTBS_Sign);
  if (der.empty()) return false;
  putEncoding(der, out, outLength);
  return true;
}

bool SesSealStru::GetSignatureData(unsigned char* tbs, int tbsLength, unsigned char** values,
                                   int** lengths, unsigned char* out, int* outLength) {
  if (!tbs || tbsLength <= 0 || !values || !lengths) return false;
  ByteSpan signatureValue;
  if (!inputAt(values, lengths, 0, &signatureValue)) return false;

  // The content must be exactly one MYTBS_Sign: it is what was signed, and
  // its decoded form re-encodes to the same bytes.
  const unsigned char* p = tbs;
  ses::TbsSignPtr toSign(d2i_MYTBS_Sign(nullptr, &p, tbsLength));
  if (!toSign || p != tbs + tbsLength) return false;

  ses::SignaturePtr signature(MYSES_Signature_new());
  if (!signature) return false;
  MYTBS_Sign_free(signature->toSign);
  signature->toSign = toSign.release();
  if (!ses::setWholeOctets(signature->signature, signatureValue)) return false;

  std::vector<uint8_t> der = ses::encode<MYSES_Signature>(signature.get(), i2d_MYSES_Signature);
  if (der.empty()) return false;
  putEncoding(der, out, outLength);
  return true;
}
