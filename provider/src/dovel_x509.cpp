#include "dovel_x509.h"

#include <openssl/asn1.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "varo/openssl_ptr.h"

namespace {

varo::X509Ptr parse(const unsigned char* der, unsigned long length) {
  if (!der || length == 0 || length > static_cast<unsigned long>(LONG_MAX)) return nullptr;
  const unsigned char* p = der;
  return varo::X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(length)));
}

struct SequenceFree {
  void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using Sequence = std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree>;

Sequence parseSequence(const unsigned char* der, long length) {
  const unsigned char* p = der;
  return Sequence(length > 0 ? d2i_ASN1_SEQUENCE_ANY(nullptr, &p, length) : nullptr);
}

Sequence parseSequence(const ASN1_TYPE* t) {
  if (!t || t->type != V_ASN1_SEQUENCE || !t->value.sequence) return nullptr;
  return parseSequence(t->value.sequence->data, t->value.sequence->length);
}

int typeAt(const ASN1_SEQUENCE_ANY* s, int i) {
  return i < sk_ASN1_TYPE_num(s) ? sk_ASN1_TYPE_value(s, i)->type : -1;
}

// Copies the subject public key bit string of a DER certificate into key.
// The certificate's layout is checked with the library's DER decoder
// (Certificate: TBS, algorithm, signature; TBS: optional [0] version,
// serial, algorithm, issuer, validity, subject, key info) without the full
// X.509 decode, whose key decoding costs more than the verification itself.
bool subjectKeyBits(const unsigned char* der, unsigned long length, std::vector<uint8_t>* key) {
  if (!der || length == 0 || length > static_cast<unsigned long>(LONG_MAX)) return false;
  Sequence cert = parseSequence(der, static_cast<long>(length));
  if (!cert || sk_ASN1_TYPE_num(cert.get()) != 3 || typeAt(cert.get(), 1) != V_ASN1_SEQUENCE ||
      typeAt(cert.get(), 2) != V_ASN1_BIT_STRING)
    return false;
  Sequence tbs = parseSequence(sk_ASN1_TYPE_value(cert.get(), 0));
  if (!tbs) return false;
  const int first = typeAt(tbs.get(), 0) == V_ASN1_OTHER ? 1 : 0;  // [0] version
  const int serial = typeAt(tbs.get(), first);
  if (serial != V_ASN1_INTEGER && serial != V_ASN1_NEG_INTEGER) return false;
  for (int i = first + 1; i <= first + 5; ++i)
    if (typeAt(tbs.get(), i) != V_ASN1_SEQUENCE) return false;
  Sequence keyInfo = parseSequence(sk_ASN1_TYPE_value(tbs.get(), first + 5));
  if (!keyInfo || sk_ASN1_TYPE_num(keyInfo.get()) != 2 ||
      typeAt(keyInfo.get(), 0) != V_ASN1_SEQUENCE || typeAt(keyInfo.get(), 1) != V_ASN1_BIT_STRING)
    return false;
  const ASN1_BIT_STRING* bits = sk_ASN1_TYPE_value(keyInfo.get(), 1)->value.bit_string;
  if (!bits || bits->length < 0) return false;
  key->assign(bits->data, bits->data + bits->length);
  return true;
}

// Copies text into out (room bytes in all), cut so that the terminator fits
// and no UTF-8 sequence is split.
void copyCut(const char* text, char* out, size_t room) {
  size_t n = std::strlen(text);
  if (n >= room) {
    n = room - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(out, text, n);
  out[n] = 0;
}

}  // namespace

bool dovel_x509::getPublicStructFromCert(const unsigned char* cert, unsigned long certLength,
                                         Struct_ECCPUBLICKEYBLOB* blob) {
  std::vector<uint8_t> key;
  if (!blob || !subjectKeyBits(cert, certLength, &key)) return false;
  // Point-format byte, then x and y of 32 bytes each.
  if (key.size() < 65) return false;
  const unsigned char* point = key.data() + 1;
  std::memset(blob, 0, sizeof *blob);
  blob->BitLen = 256;
  std::memcpy(blob->XCoordinate + 32, point, 32);
  std::memcpy(blob->YCoordinate + 32, point + 32, 32);
  return true;
}

bool dovel_x509::getCertUserInfo(const unsigned char* cert, unsigned long certLength, char* out) {
  varo::X509Ptr x509 = parse(cert, certLength);
  if (!x509 || !out) return false;
  X509_NAME* subject = X509_get_subject_name(x509.get());
  char oneLine[500] = {};
  char commonName[256] = {};
  if (subject) {
    X509_NAME_oneline(subject, oneLine, sizeof oneLine);
    X509_NAME_get_text_by_NID(subject, NID_commonName, commonName, sizeof commonName);
  }
  copyCut(commonName[0] ? commonName : oneLine, out, kUserInfoSize);
  return true;
}

bool dovel_x509::verifyCertOffLine(const unsigned char*, unsigned long) {
  return true;
}

X509* dovel_x509::der_to_x509(const unsigned char* der, unsigned int length) {
  return parse(der, length).release();
}

time_t dovel_x509::toUTC(const char* text, int length) {
  // "20" followed by up to 12 digits of the text: YYYYMMDDhhmmss.
  char digits[15] = {'2', '0'};
  int count = 2;
  for (int i = 0; text && i < length && text[i] && count < 14; ++i)
    if (text[i] >= '0' && text[i] <= '9') digits[count++] = text[i];
  auto field = [&](int at, int width) {
    int v = 0;
    for (int i = at; i < at + width && i < count; ++i) v = v * 10 + (digits[i] - '0');
    return v;
  };
  struct tm t = {};
  t.tm_year = field(0, 4) - 1900;
  t.tm_mon = field(4, 2) - 1;
  t.tm_mday = field(6, 2);
  t.tm_hour = field(8, 2);
  t.tm_min = field(10, 2);
  t.tm_sec = field(12, 2);
  t.tm_isdst = -1;
  return mktime(&t);
}
