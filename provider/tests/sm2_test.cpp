#include <openssl/core_names.h>
#include <openssl/obj_mac.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovel_x509.h"
#include "mySM2.h"
#include "mySM3.h"
#include "sm2_point_math.h"
#include "varo/pki.h"

namespace {

using varo::pki::Bytes;

const char* kOrderHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

varo::ByteSpan span(const Bytes& b) {
  return varo::ByteSpan(b.data(), b.size());
}

Bytes toBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes number32(const BIGNUM* bn) {
  Bytes out(32);
  BN_bn2binpad(bn, out.data(), 32);
  return out;
}

varo::BignumPtr orderNumber() {
  BIGNUM* bn = nullptr;
  BN_hex2bn(&bn, kOrderHex);
  return varo::BignumPtr(bn);
}

Bytes widen(const Bytes& rs) {
  Bytes wide(128, 0);
  std::copy(rs.begin(), rs.begin() + 32, wide.begin() + 32);
  std::copy(rs.begin() + 32, rs.end(), wide.begin() + 96);
  return wide;
}

class Sm2Verify : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = varo::pki::generateSm2Key();
    ASSERT_TRUE(key_);
    auto cert = varo::pki::issueCertificate(key_.get(), "CN=Alice,O=Example");
    ASSERT_TRUE(cert);
    cert_ = varo::pki::toDer(cert.get());
    message_ = toBytes("document content to be sealed");
    int n = 0;
    e_.resize(32);
    ASSERT_TRUE(mySM3::getsm3Digest(message_.data(), message_.size(), cert_.data(), cert_.size(),
                                    e_.data(), &n));
    ASSERT_EQ(n, 32);
  }

  bool verify(const Bytes& e, const Bytes& sig) const {
    return mySM2::verifySM2Signature(e.data(), e.size(), cert_.data(), cert_.size(), sig.data(),
                                     sig.size());
  }

  varo::EvpPkeyPtr key_;
  Bytes cert_, message_, e_;
};

// The cryptographic library signs M with SM3 and the default id, so it
// computes e = SM3(Z || M) on its own; our e and verification must agree.
TEST_F(Sm2Verify, LibrarySignatureOverMessageVerifiesInBothForms) {
  for (int i = 0; i < 8; ++i) {
    Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
    ASSERT_EQ(sig.size(), 64u);
    EXPECT_TRUE(verify(e_, sig));
    EXPECT_TRUE(verify(e_, widen(sig)));
  }
}

TEST_F(Sm2Verify, OurDigestIsTheLibrarysMessageRepresentative) {
  // Signing our e without further hashing must give a signature that the
  // library accepts for the message itself.
  Bytes sig = varo::pki::signDigest(key_.get(), span(e_));
  ASSERT_EQ(sig.size(), 64u);
  EXPECT_TRUE(varo::pki::verifyMessage(key_.get(), span(message_), span(sig)));
  for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(200)}) {
    Bytes m(n, 0x5A);
    Bytes e(32);
    int len = 0;
    ASSERT_TRUE(
        mySM3::getsm3Digest(m.data(), m.size(), cert_.data(), cert_.size(), e.data(), &len));
    EXPECT_TRUE(varo::pki::verifyMessage(key_.get(), span(m),
                                         span(varo::pki::signDigest(key_.get(), span(e)))))
        << n;
  }
}

TEST_F(Sm2Verify, AnyFlippedBitFails) {
  const Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
  for (int bit : {0, 7, 100, 255}) {
    Bytes e = e_;
    e[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
    EXPECT_FALSE(verify(e, sig)) << "e bit " << bit;
  }
  for (int bit : {0, 9, 255, 256, 300, 511}) {
    Bytes s = sig;
    s[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
    EXPECT_FALSE(verify(e_, s)) << "signature bit " << bit;
    EXPECT_FALSE(verify(e_, widen(s))) << "signature bit " << bit;
  }
}

TEST_F(Sm2Verify, MalformedInputsGiveFalse) {
  const Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
  Bytes sig65 = sig;
  sig65.push_back(0);
  Bytes wideWithJunk = widen(sig);
  wideWithJunk[0] = 1;  // r no longer fits below the order
  Bytes notCert = toBytes("this is not a certificate");
  EXPECT_FALSE(verify(e_, sig65));
  EXPECT_FALSE(verify(e_, Bytes(sig.begin(), sig.begin() + 63)));
  EXPECT_FALSE(verify(e_, Bytes()));
  EXPECT_FALSE(verify(e_, wideWithJunk));
  EXPECT_FALSE(
      mySM2::verifySM2Signature(e_.data(), 32, notCert.data(), notCert.size(), sig.data(), 64));
  EXPECT_FALSE(mySM2::verifySM2Signature(e_.data(), 32, nullptr, 0, sig.data(), 64));
  EXPECT_FALSE(mySM2::verifySM2Signature(nullptr, 32, cert_.data(), cert_.size(), sig.data(), 64));
  EXPECT_FALSE(mySM2::verifySM2Signature(e_.data(), 32, cert_.data(), cert_.size(), nullptr, 64));
}

TEST_F(Sm2Verify, LongDigestIsCutToTheOrderLength) {
  Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
  Bytes longer = e_;
  longer.push_back(0x77);
  EXPECT_TRUE(verify(longer, sig));
}

// sm2_do_verify on the library's own curve and point: the range checks give
// 0 (invalid), a missing key gives -1.
TEST_F(Sm2Verify, ScalarRangeChecks) {
  varo::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ASSERT_TRUE(group);
  Bytes xy = varo::pki::publicKeyXY(key_.get());
  Bytes encoded{0x04};
  encoded.insert(encoded.end(), xy.begin(), xy.end());
  varo::EcPointPtr point(EC_POINT_new(group.get()));
  ASSERT_EQ(EC_POINT_oct2point(group.get(), point.get(), encoded.data(), encoded.size(), nullptr),
            1);
  const mySM2::sm2_public_key key{group.get(), point.get()};

  const Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
  varo::BignumPtr r(BN_bin2bn(sig.data(), 32, nullptr)), s(BN_bin2bn(sig.data() + 32, 32, nullptr));
  varo::BignumPtr n = orderNumber(), zero(BN_new()), nMinusR(BN_new());
  BN_zero(zero.get());
  BN_sub(nMinusR.get(), n.get(), r.get());

  struct Case {
    const char* name;
    const BIGNUM* r;
    const BIGNUM* s;
    const mySM2::sm2_public_key* key;
    int expected;
  } cases[] = {
      {"valid", r.get(), s.get(), &key, 1},      {"r = 0", zero.get(), s.get(), &key, 0},
      {"r = n", n.get(), s.get(), &key, 0},      {"s = 0", r.get(), zero.get(), &key, 0},
      {"s = n", r.get(), n.get(), &key, 0},      {"r + s = n", r.get(), nMinusR.get(), &key, 0},
      {"no key", r.get(), s.get(), nullptr, -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(mySM2::sm2_do_verify(e_.data(), 32, c.r, c.s, c.key), c.expected) << c.name;

  // The same cases through the byte interface and the certificate.
  for (const auto& c : cases) {
    if (!c.key) continue;
    Bytes rs = number32(c.r);
    Bytes sb = number32(c.s);
    rs.insert(rs.end(), sb.begin(), sb.end());
    EXPECT_EQ(verify(e_, rs), c.expected == 1) << c.name;
  }
}

TEST_F(Sm2Verify, PointOffTheCurveIsAnError) {
  const Bytes sig = varo::pki::signMessage(key_.get(), span(message_));
  Bytes xy = varo::pki::publicKeyXY(key_.get());
  Bytes x(xy.begin(), xy.begin() + 32), y(xy.begin() + 32, xy.end());
  EXPECT_EQ(mySM2::SM2_verify_signature(e_.data(), 32, x.data(), 32, y.data(), 32, sig.data(), 32,
                                        sig.data() + 32, 32),
            0);
  y[31] ^= 1;
  EXPECT_EQ(mySM2::SM2_verify_signature(e_.data(), 32, x.data(), 32, y.data(), 32, sig.data(), 32,
                                        sig.data() + 32, 32),
            -1);
}

TEST(PublicKeyBlob, HoldsTheCoordinatesRightAligned) {
  auto key = varo::pki::generateSm2Key();
  auto cert = varo::pki::issueCertificate(key.get(), "CN=Bob");
  Bytes der = varo::pki::toDer(cert.get());
  Struct_ECCPUBLICKEYBLOB blob;
  ASSERT_TRUE(dovel_x509::getPublicStructFromCert(der.data(), der.size(), &blob));
  Bytes xy = varo::pki::publicKeyXY(key.get());
  EXPECT_EQ(blob.BitLen, 256u);
  EXPECT_EQ(Bytes(blob.XCoordinate, blob.XCoordinate + 32), Bytes(32, 0));
  EXPECT_EQ(Bytes(blob.XCoordinate + 32, blob.XCoordinate + 64),
            Bytes(xy.begin(), xy.begin() + 32));
  EXPECT_EQ(Bytes(blob.YCoordinate + 32, blob.YCoordinate + 64), Bytes(xy.begin() + 32, xy.end()));
}

// A certificate whose key is a compressed point (33 bytes) yields no public
// key, no digest and no verification, and nothing is read past the key.
TEST(PublicKeyBlob, ShortKeyIsRefused) {
  auto key = varo::pki::generateSm2Key();
  ASSERT_EQ(EVP_PKEY_set_utf8_string_param(key.get(), OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                           "compressed"),
            1);
  auto cert = varo::pki::issueCertificate(key.get(), "CN=Carol");
  ASSERT_TRUE(cert);
  ASSERT_LT(X509_get0_pubkey_bitstr(cert.get())->length, 65);
  Bytes der = varo::pki::toDer(cert.get());

  Struct_ECCPUBLICKEYBLOB blob;
  std::memset(&blob, 0xAA, sizeof blob);
  EXPECT_FALSE(dovel_x509::getPublicStructFromCert(der.data(), der.size(), &blob));
  EXPECT_EQ(blob.BitLen, 0xAAAAAAAAu);

  unsigned char e[32];
  int length = -7;
  EXPECT_FALSE(mySM3::getsm3Digest(e, 0, der.data(), der.size(), e, &length));
  EXPECT_EQ(length, -7);
  unsigned char sig[64] = {1};
  EXPECT_FALSE(mySM2::verifySM2Signature(e, 32, der.data(), der.size(), sig, 64));
}

TEST(PublicKeyBlob, NonCertificateLeavesOutputsAlone) {
  const Bytes junk = toBytes("0123456789");
  unsigned char out[32] = {};
  int length = 5;
  EXPECT_FALSE(
      mySM3::getsm3Digest(junk.data(), junk.size(), junk.data(), junk.size(), out, &length));
  EXPECT_EQ(length, 5);
  EXPECT_EQ(Bytes(out, out + 32), Bytes(32, 0));
}

}  // namespace

namespace {

// DER that is not a certificate, or a damaged one, yields no public key.
TEST(PublicKeyBlob, DamagedOrForeignDerIsRefused) {
  auto key = varo::pki::generateSm2Key();
  auto cert = varo::pki::issueCertificate(key.get(), "CN=Erin");
  const Bytes der = varo::pki::toDer(cert.get());
  Bytes truncated(der.begin(), der.end() - 1);
  Bytes retagged = der;
  retagged[0] = 0x31;  // SET instead of SEQUENCE
  Bytes tbsOnly;       // the TBS part alone
  {
    const unsigned char* p = der.data();
    long len = 0;
    int tag = 0, cls = 0;
    ASN1_get_object(&p, &len, &tag, &cls, long(der.size()));
    const unsigned char* tbsStart = p;
    ASN1_get_object(&p, &len, &tag, &cls, long(der.size()));
    tbsOnly.assign(tbsStart, p + len);
  }
  struct Case {
    const char* name;
    Bytes der;
  } cases[] = {
      {"truncated", truncated},
      {"retagged", retagged},
      {"tbs alone", tbsOnly},
      {"private key", varo::pki::privateKeyToDer(key.get())},
      {"signature value", varo::pki::rsToDer(span(Bytes(64, 1)))},
      {"empty", Bytes()},
  };
  for (const auto& c : cases) {
    Struct_ECCPUBLICKEYBLOB blob;
    EXPECT_FALSE(dovel_x509::getPublicStructFromCert(c.der.data(), c.der.size(), &blob)) << c.name;
  }
  Struct_ECCPUBLICKEYBLOB blob;
  EXPECT_TRUE(dovel_x509::getPublicStructFromCert(der.data(), der.size(), &blob));
}

// s*G + t*P on the curve's own arithmetic against the library's, on random
// and edge scalars: sums that need a doubling (P = G, s = t), that vanish
// (P = G, s + t = n), with one scalar zero, and every candidate position.
TEST(Sm2PointMath, SumAgreesWithTheLibrarysCurveArithmetic) {
  varo::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ASSERT_TRUE(group);
  varo::BnCtxPtr ctx(BN_CTX_new());
  const BIGNUM* n = EC_GROUP_get0_order(group.get());
  auto number = [](const char* hex) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex);
    return varo::BignumPtr(bn);
  };
  varo::BignumPtr nMinus1(BN_dup(n)), k(BN_new());
  BN_sub_word(nMinus1.get(), 1);
  struct Case {
    const char* s;  // hex; null: random below n
    const char* t;
    bool pointIsG;
  } cases[] = {{"1", "1", true},
               {"2", "0", false},
               {"0", "3", false},
               {"5", "5", true},
               {"1", nullptr, true},
               {nullptr, nullptr, false},
               {"FFFFFFFF", "FFFF", false},
               {nullptr, "1", false}};
  for (int round = 0; round < 12; ++round) {
    for (const auto& c : cases) {
      varo::BignumPtr s = c.s ? number(c.s) : varo::BignumPtr(BN_new());
      varo::BignumPtr t = c.t ? number(c.t) : varo::BignumPtr(BN_new());
      if (!c.s) BN_rand_range(s.get(), n);
      if (!c.t) BN_rand_range(t.get(), n);
      if (c.s && c.t && round == 1) BN_sub(t.get(), n, s.get());  // s + t = n
      if (round == 2) BN_copy(s.get(), nMinus1.get());
      BN_rand_range(k.get(), n);
      varo::EcPointPtr p(EC_POINT_new(group.get())), sum(EC_POINT_new(group.get()));
      ASSERT_TRUE(c.pointIsG
                      ? EC_POINT_copy(p.get(), EC_GROUP_get0_generator(group.get()))
                      : EC_POINT_mul(group.get(), p.get(), k.get(), nullptr, nullptr, ctx.get()));
      ASSERT_TRUE(EC_POINT_mul(group.get(), sum.get(), s.get(), p.get(), t.get(), ctx.get()));
      varo::BignumPtr px(BN_new()), py(BN_new()), x(BN_new()), other(BN_new());
      ASSERT_TRUE(
          EC_POINT_get_affine_coordinates(group.get(), p.get(), px.get(), py.get(), ctx.get()));
      const Bytes sb = number32(s.get()), tb = number32(t.get()), xb = number32(px.get()),
                  yb = number32(py.get());
      unsigned char candidates[2][32];
      bool matches = true;
      const bool finite = varo::sm2::sumXIsOneOf(sb.data(), tb.data(), xb.data(), yb.data(),
                                                 candidates, 0, &matches);
      const std::string name =
          std::string(c.s ? c.s : "random") + ", round " + std::to_string(round);
      ASSERT_EQ(finite, !EC_POINT_is_at_infinity(group.get(), sum.get())) << name;
      if (!finite) continue;
      EXPECT_FALSE(matches) << name;  // no candidates
      ASSERT_TRUE(
          EC_POINT_get_affine_coordinates(group.get(), sum.get(), x.get(), nullptr, ctx.get()));
      // Another number below p: x - 1, or 1 for x = 0.
      BN_copy(other.get(), x.get());
      BN_is_zero(x.get()) ? BN_one(other.get()) : BN_sub_word(other.get(), 1);
      BN_bn2binpad(other.get(), candidates[0], 32);
      BN_bn2binpad(x.get(), candidates[1], 32);
      for (int count = 1; count <= 2; ++count) {
        varo::sm2::sumXIsOneOf(sb.data(), tb.data(), xb.data(), yb.data(), candidates + 2 - count,
                               count, &matches);
        EXPECT_TRUE(matches) << name << ", candidates " << count;
      }
      varo::sm2::sumXIsOneOf(sb.data(), tb.data(), xb.data(), yb.data(), candidates, 1, &matches);
      EXPECT_FALSE(matches) << name;
    }
  }
}

}  // namespace
