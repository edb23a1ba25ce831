// SM2 signature verification (GM/T 0003.2) on the recommended 256-bit curve,
// over a message representative e that the caller computed.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>

#include "OesProvider.h"
#include "dovel_x509.h"

class OES_EXPORT mySM2 {
 public:
  // A public key as the verification needs it: the curve and the point.
  struct sm2_public_key {
    const EC_GROUP* group;
    const EC_POINT* point;
  };

  // True when sig (64 bytes r||s, or 128 bytes: r and s right-aligned in
  // 64-byte fields) is a valid signature of e by the certificate's key.
  static bool verifySM2Signature(const unsigned char* e, unsigned long eLength,
                                 const unsigned char* cert, unsigned long certLength,
                                 const unsigned char* sig, unsigned long sigLength);

  // x, y, r, s are big-endian numbers (leading zeros allowed). 0 when the
  // signature holds, -1 otherwise (also for any failure to build the curve,
  // the point or the numbers).
  static int SM2_verify_signature(const unsigned char* e, int eLength, const unsigned char* x,
                                  int xLength, const unsigned char* y, int yLength,
                                  const unsigned char* r, int rLength, const unsigned char* s,
                                  int sLength);

  // 1 valid, 0 invalid, -1 error (missing key, curve or point, no context).
  static int sm2_do_verify(const unsigned char* e, int eLength, const BIGNUM* r, const BIGNUM* s,
                           const sm2_public_key* key);
};

namespace varo::sm2 {

// verifySM2Signature for a public key already taken from the certificate, so
// that a flow that also needs the key for e reads the certificate once.
bool verifyWithKey(const unsigned char* e, unsigned long eLength,
                   const Struct_ECCPUBLICKEYBLOB& key, const unsigned char* sig,
                   unsigned long sigLength);

}  // namespace varo::sm2
