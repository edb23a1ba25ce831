#include "mySM2.h"

#include <climits>
#include <cstring>

#include "dovel_x509.h"
#include "sm2_curve.h"
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
// even root; built for every verification.
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

}  // namespace

bool mySM2::verifySM2Signature(const unsigned char* e, unsigned long eLength,
                               const unsigned char* cert, unsigned long certLength,
                               const unsigned char* sig, unsigned long sigLength) {
  Struct_ECCPUBLICKEYBLOB key;
  if (!dovel_x509::getPublicStructFromCert(cert, certLength, &key)) return false;
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
  return SM2_verify_signature(e, static_cast<int>(eLength), key.XCoordinate, 64, key.YCoordinate,
                              64, wide, 64, wide + 64, 64) == 0;
}

int mySM2::SM2_verify_signature(const unsigned char* e, int eLength, const unsigned char* x,
                                int xLength, const unsigned char* y, int yLength,
                                const unsigned char* r, int rLength, const unsigned char* s,
                                int sLength) {
  if (!e && eLength > 0) return -1;
  BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) return -1;
  EcGroupPtr group = buildCurve(ctx.get());
  if (!group) return -1;

  BignumPtr px = fromBytes(x, xLength), py = fromBytes(y, yLength);
  EcPointPtr point(EC_POINT_new(group.get()));
  // Setting affine coordinates refuses a point that is not on the curve.
  if (!px || !py || !point ||
      !EC_POINT_set_affine_coordinates(group.get(), point.get(), px.get(), py.get(), ctx.get()))
    return -1;

  BignumPtr rn = fromBytes(r, rLength), sn = fromBytes(s, sLength);
  if (!rn || !sn) return -1;
  const sm2_public_key key{group.get(), point.get()};
  return sm2_do_verify(e, eLength, rn.get(), sn.get(), &key) == 1 ? 0 : -1;
}

int mySM2::sm2_do_verify(const unsigned char* e, int eLength, const BIGNUM* r, const BIGNUM* s,
                         const sm2_public_key* key) {
  if (!key || !key->group || !key->point || !r || !s || (!e && eLength > 0)) return -1;
  const EC_GROUP* group = key->group;
  BnCtxPtr ctx(BN_CTX_new());
  const BIGNUM* order = EC_GROUP_get0_order(group);
  if (!ctx || !order || BN_is_zero(order)) return -1;

  if (!inRange(r, order) || !inRange(s, order)) return 0;

  BignumPtr t(BN_new());
  if (!t || !BN_mod_add(t.get(), r, s, order, ctx.get())) return -1;
  if (BN_is_zero(t.get())) return 0;

  // (x1, y1) = s*G + t*P
  EcPointPtr sum(EC_POINT_new(group));
  BignumPtr x1(BN_new());
  if (!sum || !x1 || !EC_POINT_mul(group, sum.get(), s, key->point, t.get(), ctx.get())) return -1;
  if (EC_POINT_is_at_infinity(group, sum.get())) return 0;
  if (!EC_POINT_get_affine_coordinates(group, sum.get(), x1.get(), nullptr, ctx.get())) return -1;

  BignumPtr en = digestToNumber(e, eLength, order);
  BignumPtr big_r(BN_new());
  if (!en || !big_r || !BN_mod_add(big_r.get(), en.get(), x1.get(), order, ctx.get())) return -1;
  return BN_cmp(big_r.get(), r) == 0 ? 1 : 0;
}
