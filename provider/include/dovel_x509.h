// What the provider's flows read out of an X.509 certificate (DER).
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

#include "OesProvider.h"

// The smart-key public key layout: 32 zero bytes, then the 32-byte
// big-endian coordinate, in each 64-byte field.
struct Struct_ECCPUBLICKEYBLOB {
  uint32_t BitLen;
  unsigned char XCoordinate[64];
  unsigned char YCoordinate[64];
};

class OES_EXPORT dovel_x509 {
 public:
  // Size of the output text of getCertUserInfo in every caller, terminator
  // included; never more is written.
  static constexpr int kUserInfoSize = 300;

  // Fills blob from the subject public key (an uncompressed point of at least
  // 65 bytes). False, blob untouched, when the DER does not parse or the key
  // is shorter.
  static bool getPublicStructFromCert(const unsigned char* cert, unsigned long certLength,
                                      Struct_ECCPUBLICKEYBLOB* blob);

  // Writes the subject's common name, or the one-line subject when it has
  // none, zero-terminated and cut to kUserInfoSize bytes in all. False, out
  // untouched, when the DER does not parse.
  static bool getCertUserInfo(const unsigned char* cert, unsigned long certLength, char* out);

  // No offline check is made: always true.
  static bool verifyCertOffLine(const unsigned char* cert, unsigned long certLength);

  // The parsed certificate (owned by the caller, X509_free) or null.
  static X509* der_to_x509(const unsigned char* der, unsigned int length);

  // "YYMMDDhhmmss..." as local calendar time of 20YY-MM-DD hh:mm:ss.
  static time_t toUTC(const char* text, int length);
};
