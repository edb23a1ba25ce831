// SM2 verification. The curve is built from its texts once per process and
// shared by every verification; nothing else outlives a call. On that curve
// the sum s*G + t*P runs on arithmetic made for it (sm2_point_math.h), on
// any other curve on the library's big-number and curve arithmetic.
#include "mySM2.h"

#include <atomic>
#include <climits>
#include <cstring>

#include "dovel_x509.h"
#include "sm2_curve.h"
#include "sm2_point_math.h"
#include "varo/openssl_ptr.h"

namespace {

using varo::BignumPtr;
using varo::BnCtxPtr;
using varo::EcGroupPtr;
using varo::EcPointPtr;

BignumPtr fromHex(const char* hex) {
  BIGNUM* bn = nullptr;
  if (!BN_hex2bn(&bn, hex)) return nullptr;
  return BignumPtr(bn);
}

BignumPtr fromBytes(const unsigned char* bytes, int n) {
  if (!bytes || n < 0) return nullptr;
  return BignumPtr(BN_bin2bn(bytes, n, nullptr));
}

// The curve from its texts, with the base point's y derived from x as the
// even root.
EcGroupPtr buildCurve(BN_CTX* ctx) {
  BignumPtr p = fromHex(varo::sm2::kP), a = fromHex(varo::sm2::kA), b = fromHex(varo::sm2::kB);
  BignumPtr gx = fromHex(varo::sm2::kGx), n = fromHex(varo::sm2::kN);
  BignumPtr cofactor(BN_new());
  if (!p || !a || !b || !gx || !n || !cofactor || !BN_one(cofactor.get())) return nullptr;
  EcGroupPtr group(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ctx));
  if (!group) return nullptr;
  EcPointPtr g(EC_POINT_new(group.get()));
  if (!g || !EC_POINT_set_compressed_coordinates(group.get(), g.get(), gx.get(), 0, ctx) ||
      !EC_GROUP_set_generator(group.get(), g.get(), n.get(), cofactor.get()))
    return nullptr;
  return group;
}

// The curve is the same for every verification and is never changed once
// built, so it is built once per process (the first verification that
// succeeds in building it publishes it; a thread that lost that race frees
// its own copy) and given back when the library is unloaded.
class SharedCurve {
 public:
  ~SharedCurve() { EC_GROUP_free(group_.exchange(nullptr)); }

  const EC_GROUP* get(BN_CTX* ctx) {
    if (const EC_GROUP* g = group_.load(std::memory_order_acquire)) return g;
    EcGroupPtr built = buildCurve(ctx);
    if (!built) return nullptr;
    EC_GROUP* expected = nullptr;
    if (group_.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel))
      return built.release();
    return expected;  // another thread's, equal to ours
  }

 private:
  std::atomic<EC_GROUP*> group_{nullptr};
};

SharedCurve sharedCurve;

// e as an integer, cut to the bit length of the order when it is longer.
BignumPtr digestToNumber(const unsigned char* e, int eLength, const BIGNUM* order) {
  const int bits = BN_num_bits(order);
  if (eLength <= 0) return BignumPtr(BN_new());  // zero
  if (static_cast<long long>(bits) >= 8LL * eLength) return fromBytes(e, eLength);
  BignumPtr number = fromBytes(e, (bits + 7) / 8);
  if (number && bits % 8 != 0 && !BN_rshift(number.get(), number.get(), 8 - bits % 8))
    return nullptr;
  return number;
}

bool inRange(const BIGNUM* v, const BIGNUM* order) {
  return !BN_is_zero(v) && !BN_is_negative(v) && BN_cmp(v, order) < 0;
}

// The end of the check on the SM2 curve: (e + x1) mod n == r, for the x1
// of (x1, y1) = s*G + t*P, which lies below p, holds exactly when x1 is
// (r - e) mod n or, if that plus n is still below p, that plus n.
int checkOnSm2Curve(const unsigned char* e, int eLength, const BIGNUM* r, const BIGNUM* s,
                    const BIGNUM* t, const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx) {
  const BIGNUM* order = EC_GROUP_get0_order(group);
  const BIGNUM* field = EC_GROUP_get0_field(group);
  BignumPtr px(BN_new()), py(BN_new()), first(BN_new()), second(BN_new());
  BignumPtr en = digestToNumber(e, eLength, order);
  if (!field || !px || !py || !first || !second || !en ||
      !EC_POINT_get_affine_coordinates(group, point, px.get(), py.get(), ctx) ||
      !BN_mod_sub(first.get(), r, en.get(), order, ctx) ||
      !BN_add(second.get(), first.get(), order))
    return -1;
  unsigned char sBytes[32], tBytes[32], xBytes[32], yBytes[32], candidates[2][32];
  if (BN_bn2binpad(s, sBytes, 32) != 32 || BN_bn2binpad(t, tBytes, 32) != 32 ||
      BN_bn2binpad(px.get(), xBytes, 32) != 32 || BN_bn2binpad(py.get(), yBytes, 32) != 32 ||
      BN_bn2binpad(first.get(), candidates[0], 32) != 32)
    return -1;
  int count = 1;
  if (BN_cmp(second.get(), field) < 0) {
    if (BN_bn2binpad(second.get(), candidates[1], 32) != 32) return -1;
    count = 2;
  }
  bool matches = false;
  if (!varo::sm2::sumXIsOneOf(sBytes, tBytes, xBytes, yBytes, candidates, count, &matches))
    return 0;  // the point at infinity
  return matches ? 1 : 0;
}

// sm2_do_verify on the caller's arithmetic context; sm2Curve: the group is
// the SM2 curve.
int doVerify(const unsigned char* e, int eLength, const BIGNUM* r, const BIGNUM* s,
             const EC_GROUP* group, const EC_POINT* point, BN_CTX* ctx, bool sm2Curve = false) {
  const BIGNUM* order = EC_GROUP_get0_order(group);
  if (!order || BN_is_zero(order)) return -1;

  if (!inRange(r, order) || !inRange(s, order)) return 0;

  BignumPtr t(BN_new());
  if (!t || !BN_mod_add(t.get(), r, s, order, ctx)) return -1;
  if (BN_is_zero(t.get())) return 0;
  if (sm2Curve) return checkOnSm2Curve(e, eLength, r, s, t.get(), group, point, ctx);

  // (x1, y1) = s*G + t*P
  EcPointPtr sum(EC_POINT_new(group));
  BignumPtr x1(BN_new());
  if (!sum || !x1 || !EC_POINT_mul(group, sum.get(), s, point, t.get(), ctx)) return -1;
  if (EC_POINT_is_at_infinity(group, sum.get())) return 0;
  if (!EC_POINT_get_affine_coordinates(group, sum.get(), x1.get(), nullptr, ctx)) return -1;

  BignumPtr en = digestToNumber(e, eLength, order);
  BignumPtr big_r(BN_new());
  if (!en || !big_r || !BN_mod_add(big_r.get(), en.get(), x1.get(), order, ctx)) return -1;
  return BN_cmp(big_r.get(), r) == 0 ? 1 : 0;
}

}  // namespace

bool varo::sm2::verifyWithKey(const unsigned char* e, unsigned long eLength,
                              const Struct_ECCPUBLICKEYBLOB& key, const unsigned char* sig,
                              unsigned long sigLength) {
  if (!e || !sig || eLength > static_cast<unsigned long>(INT_MAX)) return false;

  // The 128-byte form: r and s right-aligned in 64-byte fields.
  unsigned char wide[128] = {};
  if (sigLength == 64) {
    std::memcpy(wide + 32, sig, 32);
    std::memcpy(wide + 96, sig + 32, 32);
  } else if (sigLength == 128) {
    std::memcpy(wide, sig, 128);
  } else {
    return false;
  }
  return mySM2::SM2_verify_signature(e, static_cast<int>(eLength), key.XCoordinate, 64,
                                     key.YCoordinate, 64, wide, 64, wide + 64, 64) == 0;
}

bool mySM2::verifySM2Signature(const unsigned char* e, unsigned long eLength,
                               const unsigned char* cert, unsigned long certLength,
                               const unsigned char* sig, unsigned long sigLength) {
  Struct_ECCPUBLICKEYBLOB key;
  if (!dovel_x509::getPublicStructFromCert(cert, certLength, &key)) return false;
  return varo::sm2::verifyWithKey(e, eLength, key, sig, sigLength);
}

int mySM2::SM2_verify_signature(const unsigned char* e, int eLength, const unsigned char* x,
                                int xLength, const unsigned char* y, int yLength,
                                const unsigned char* r, int rLength, const unsigned char* s,
                                int sLength) {
  if (!e && eLength > 0) return -1;
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) return -1;
  const EC_GROUP* group = sharedCurve.get(ctx.get());
  if (!group) return -1;

  BignumPtr px = fromBytes(x, xLength), py = fromBytes(y, yLength);
  EcPointPtr point(EC_POINT_new(group));
  // Setting affine coordinates refuses a point that is not on the curve.
  if (!px || !py || !point ||
      !EC_POINT_set_affine_coordinates(group, point.get(), px.get(), py.get(), ctx.get()))
    return -1;

  BignumPtr rn = fromBytes(r, rLength), sn = fromBytes(s, sLength);
  if (!rn || !sn) return -1;
  return doVerify(e, eLength, rn.get(), sn.get(), group, point.get(), ctx.get(), true) == 1 ? 0
                                                                                            : -1;
}

int mySM2::sm2_do_verify(const unsigned char* e, int eLength, const BIGNUM* r, const BIGNUM* s,
                         const sm2_public_key* key) {
  if (!key || !key->group || !key->point || !r || !s || (!e && eLength > 0)) return -1;
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) return -1;
  return doVerify(e, eLength, r, s, key->group, key->point, ctx.get());
}
