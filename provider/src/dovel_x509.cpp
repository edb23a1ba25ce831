#include "dovel_x509.h"

#include <climits>
#include <cstring>

#include "varo/openssl_ptr.h"

namespace {

varo::X509Ptr parse(const unsigned char* der, unsigned long length) {
  if (!der || length == 0 || length > static_cast<unsigned long>(LONG_MAX)) return nullptr;
  const unsigned char* p = der;
  return varo::X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(length)));
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
  varo::X509Ptr x509 = parse(cert, certLength);
  if (!x509 || !blob) return false;
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(x509.get());
  // Point-format byte, then x and y of 32 bytes each.
  if (!key || key->length < 65) return false;
  const unsigned char* point = key->data + 1;
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
