#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "SesSealStru.h"
#include "field_out.h"
#include "ses_ptr.h"
#include "ses_text.h"
#include "varo/trace.h"

namespace ses {

std::string decimalText(long value) {
  std::string text = std::to_string(value);
  if (text.size() + 1 > kDecimalTextSize) return "-1";
  return text;
}

std::string objectText(const ASN1_OBJECT* object) {
  char text[kObjectTextSize] = {};
  if (!object || OBJ_obj2txt(text, sizeof text, object, 1) < 0) return std::string();
  return std::string(text);
}

const char* sealTypeText(long type) {
  switch (type) {
    case 1:
      return "单位公章";
    case 2:
      return "个人印章";
    default:
      return "未知类型";
  }
}

bool setWholeOctets(ASN1_BIT_STRING* s, varo::ByteSpan octets) {
  if (!s || octets.size() > size_t(INT_MAX)) return false;
  if (!ASN1_BIT_STRING_set(s, const_cast<uint8_t*>(octets.data()), int(octets.size())))
    return false;
  s->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07L);
  s->flags |= ASN1_STRING_FLAG_BITS_LEFT;
  return true;
}

}  // namespace ses

long SesSealStru::AsnIntegerToLong(ASN1_INTEGER* value) {
  if (!value) return -1;
  varo::BignumPtr bn(ASN1_INTEGER_to_BN(value, nullptr));
  if (!bn) return -1;
  char* text = BN_bn2dec(bn.get());
  if (!text) return -1;
  errno = 0;
  char* end = nullptr;
  long result = std::strtol(text, &end, 10);
  bool ok = errno == 0 && end != text && *end == '\0';
  OPENSSL_free(text);
  return ok ? result : -1;
}

ASN1_INTEGER* SesSealStru::CharToAsnInteger(const char* text) {
  if (!text || !*text) return nullptr;
  BIGNUM* raw = nullptr;
  int parsed = BN_dec2bn(&raw, text);
  varo::BignumPtr bn(raw);
  if (!bn || parsed <= 0 || size_t(parsed) != std::strlen(text)) return nullptr;
  return BN_to_ASN1_INTEGER(bn.get(), nullptr);
}

void SesSealStru::utcstringFormat(const unsigned char* time, int count, char* out, int* outLength) {
  // The century is always 20; then up to 12 digits of the input.
  char digits[14] = {'2', '0'};
  size_t have = 2;
  for (int i = 0; time && i < count && have < sizeof digits; ++i)
    if (time[i] >= '0' && time[i] <= '9') digits[have++] = char(time[i]);

  // YYYY-MM-DD hh:mm:ss; the text ends at the first missing digit.
  static const char kLayout[] = "dddd-dd-dd dd:dd:dd";
  char text[sizeof kLayout] = {};
  size_t next = 0, n = 0;
  for (; kLayout[n] != '\0'; ++n) {
    if (kLayout[n] != 'd') {
      text[n] = kLayout[n];
      continue;
    }
    if (next >= have) break;
    text[n] = digits[next++];
  }
  text[n] = '\0';
  ses::putText(out, text);
  ses::putInt(outLength, int(n));
}

bool SesSealStru::getCertUserInfo(const unsigned char* der, int length, char* out) {
  if (!der || length <= 0) return false;
  const unsigned char* p = der;
  varo::X509Ptr cert(d2i_X509(nullptr, &p, length));
  if (!cert) return false;
  X509_NAME* subject = X509_get_subject_name(cert.get());
  char commonName[256] = {};
  if (subject &&
      X509_NAME_get_text_by_NID(subject, NID_commonName, commonName, sizeof commonName) > 0) {
    ses::putText(out, commonName);
    return true;
  }
  char oneLine[500] = {};
  if (subject && !X509_NAME_oneline(subject, oneLine, sizeof oneLine)) oneLine[0] = '\0';
  ses::putText(out, oneLine);
  return true;
}

void getSignMethod(unsigned char* out, int* outLength) {
  static const unsigned char kSm2WithSm3[8] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
  ses::putWithLength(out, outLength, varo::ByteSpan(kSm2WithSm3, sizeof kSm2WithSm3));
}

void writeLog(const char* path, const unsigned char* data, unsigned long count) {
  varo::trace::dump(path, data, count);
}

BasicSealInfo* getObj() {
  return new (std::nothrow) SesSealStru();
}

void freeObj(BasicSealInfo* object) {
  delete static_cast<SesSealStru*>(object);
}
