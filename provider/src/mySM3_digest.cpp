// The plain digest and the SM2 message representative built on mySM3.
#include <climits>
#include <cstring>

#include "dovel_x509.h"
#include "mySM3.h"
#include "sm2_curve.h"

namespace {

// sm3_update counts in int; longer inputs are fed in slices so that every
// byte is hashed whatever the length.
void updateAll(mySM3::sm3_context* ctx, const unsigned char* data, unsigned long n) {
  constexpr unsigned long kSlice = 1UL << 30;
  while (n > 0) {
    unsigned long part = n < kSlice ? n : kSlice;
    mySM3::sm3_update(ctx, data, static_cast<int>(part));
    data += part;
    n -= part;
  }
}

}  // namespace

bool mySM3::getsm3DigestWithoutCert(const unsigned char* msg, unsigned long msgLength,
                                    unsigned char* out, int* outLength) {
  if (outLength) *outLength = 32;
  sm3_context ctx;
  sm3_starts(&ctx);
  if (msg) updateAll(&ctx, msg, msgLength);
  unsigned char digest[32];
  sm3_finish(&ctx, digest);
  if (out) std::memcpy(out, digest, sizeof digest);
  return true;
}

void varo::sm3::messageRepresentative(const unsigned char* msg, unsigned long msgLength,
                                      const Struct_ECCPUBLICKEYBLOB& key, unsigned char e[32]) {
  unsigned char zInput[varo::sm2::kZInputSize];
  std::memcpy(zInput, varo::sm2::kZPrefix.data(), varo::sm2::kZPrefixSize);
  std::memcpy(zInput + varo::sm2::kZPrefixSize, key.XCoordinate + 32, 32);
  std::memcpy(zInput + varo::sm2::kZPrefixSize + 32, key.YCoordinate + 32, 32);
  unsigned char z[32];
  mySM3::sm3(zInput, static_cast<int>(sizeof zInput), z);

  // e = SM3(Z || M), streamed: the same digest as hashing one joined buffer.
  mySM3::sm3_context ctx;
  mySM3::sm3_starts(&ctx);
  mySM3::sm3_update(&ctx, z, 32);
  if (msg) updateAll(&ctx, msg, msgLength);
  mySM3::sm3_finish(&ctx, e);
}

bool mySM3::getsm3Digest(const unsigned char* msg, unsigned long msgLength,
                         const unsigned char* cert, unsigned long certLength, unsigned char* out,
                         int* outLength) {
  Struct_ECCPUBLICKEYBLOB key;
  if (!dovel_x509::getPublicStructFromCert(cert, certLength, &key)) return false;
  unsigned char e[32];
  varo::sm3::messageRepresentative(msg, msgLength, key, e);
  if (outLength) *outLength = 32;
  if (out) std::memcpy(out, e, sizeof e);
  return true;
}
