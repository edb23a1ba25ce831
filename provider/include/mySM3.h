// SM3 hash (GM/T 0004-2012) in a streaming form, and the two digests the
// provider needs: the plain digest and the SM2 message representative
// e = SM3(Z || M) for the public key of a certificate.
#pragma once

#include <cstdint>

#include "OesProvider.h"
#include "dovel_x509.h"

class OES_EXPORT mySM3 {
 public:
  // One computation; lives on the caller's stack.
  struct sm3_context {
    uint32_t total[2];         // [0]: input bytes mod 2^32, [1]: carries out of [0]
    uint32_t state[8];         // chaining value
    unsigned char buffer[64];  // pending partial block
    unsigned char ipad[64];    // room for a keyed variant, unused
    unsigned char opad[64];
  };

  mySM3();
  ~mySM3();

  static void sm3_starts(sm3_context* ctx);
  // The compression function over one 64-byte block.
  static void sm3_process(sm3_context* ctx, const unsigned char data[64]);
  // A count of 0 or less does nothing.
  static void sm3_update(sm3_context* ctx, const unsigned char* input, int ilen);
  static void sm3_finish(sm3_context* ctx, unsigned char output[32]);
  static void sm3(const unsigned char* input, int ilen, unsigned char output[32]);

  // Plain SM3 of msg. Stores 32 through outLength (when not null) and copies
  // the digest to out when out is not null. Always true.
  static bool getsm3DigestWithoutCert(const unsigned char* msg, unsigned long msgLength,
                                      unsigned char* out, int* outLength);

  // e = SM3(Z || msg), Z from the default user id "1234567812345678", the
  // curve parameters and the certificate's public key. False, with neither
  // output touched, when the certificate gives no public key.
  static bool getsm3Digest(const unsigned char* msg, unsigned long msgLength,
                           const unsigned char* cert, unsigned long certLength, unsigned char* out,
                           int* outLength);
};

namespace varo::sm3 {

// e = SM3(Z || msg) for a public key already taken from the certificate
// (getsm3Digest without reading the certificate).
void messageRepresentative(const unsigned char* msg, unsigned long msgLength,
                           const Struct_ECCPUBLICKEYBLOB& key, unsigned char e[32]);

}  // namespace varo::sm3
