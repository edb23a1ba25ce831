// PIN verification and change, login scope, and SM2 signing of a digest.
#include <openssl/rand.h>

#include <cstring>

#include "softkey_fixture.h"
#include "varo/pki.h"

namespace softkey_test {
namespace {

using skf::SAR_OK;
using skf::SAR_PIN_INCORRECT;
using skf::SAR_PIN_LOCKED;

TEST_F(SoftKeyTest, WrongPinsCountDownToLocked) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  // Wrong PINs through VerifyPIN and ChangePIN share one counter (limit 6).
  struct Step {
    bool change;
    const char* pin;
    ULONG code;
    ULONG retry;
  } steps[] = {
      {false, "000000", SAR_PIN_INCORRECT, 5}, {true, "111111", SAR_PIN_INCORRECT, 4},
      {false, "12345678", SAR_OK, 6},  // the right PIN restores the counter
      {false, "1", SAR_PIN_INCORRECT, 5},      {false, "2", SAR_PIN_INCORRECT, 4},
      {true, "3", SAR_PIN_INCORRECT, 3},       {false, "4", SAR_PIN_INCORRECT, 2},
      {false, "5", SAR_PIN_INCORRECT, 1},      {false, "6", SAR_PIN_LOCKED, 0},
      {false, "12345678", SAR_PIN_LOCKED, 0},  // locked: even the right PIN fails
      {true, "12345678", SAR_PIN_LOCKED, 0},
  };
  for (const Step& s : steps) {
    ULONG retry = 99;
    ULONG rc = s.change ? api_.SKF_ChangePIN(app, skf::USER_TYPE, const_cast<char*>(s.pin),
                                             const_cast<char*>("87654321"), &retry)
                        : verifyUserPin(app, s.pin, &retry);
    EXPECT_EQ(rc, s.code) << s.pin;
    EXPECT_EQ(retry, s.retry) << s.pin;
  }
  ULONG max = 0, left = 9;
  skf::BOOL isDefault = 0;
  ASSERT_EQ(ext_.GetPINInfo(app, skf::USER_TYPE, &max, &left, &isDefault), SAR_OK);
  EXPECT_EQ(max, 6u);
  EXPECT_EQ(left, 0u);

  // The administrator unblocks with a new user PIN.
  ULONG retry = 0;
  EXPECT_EQ(ext_.UnblockPIN(app, const_cast<char*>("88888888"), const_cast<char*>("24680"), &retry),
            SAR_OK);
  EXPECT_EQ(verifyUserPin(app, "24680"), SAR_OK);
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SoftKeyTest, PinArgumentsAreChecked) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  ULONG retry = 0;
  std::string longPin(65, '1');
  EXPECT_EQ(api_.SKF_VerifyPIN(app, 7, const_cast<char*>("12345678"), &retry),
            skf::SAR_USER_TYPE_INVALID);
  EXPECT_EQ(api_.SKF_VerifyPIN(app, skf::USER_TYPE, nullptr, &retry), skf::SAR_INVALIDPARAMERR);
  EXPECT_EQ(verifyUserPin(app, ""), skf::SAR_PIN_LEN_RANGE);
  EXPECT_EQ(verifyUserPin(app, longPin.c_str()), skf::SAR_PIN_LEN_RANGE);
  // An out-of-range new PIN costs no try.
  EXPECT_EQ(api_.SKF_ChangePIN(app, skf::USER_TYPE, const_cast<char*>("000"), const_cast<char*>(""),
                               &retry),
            skf::SAR_PIN_LEN_RANGE);
  ULONG max = 0, left = 0;
  skf::BOOL isDefault = 0;
  ASSERT_EQ(ext_.GetPINInfo(app, skf::USER_TYPE, &max, &left, &isDefault), SAR_OK);
  EXPECT_EQ(left, max);
  EXPECT_EQ(isDefault, 1);
  EXPECT_EQ(api_.SKF_ChangePIN(app, skf::USER_TYPE, const_cast<char*>("12345678"),
                               const_cast<char*>("13579"), &retry),
            SAR_OK);
  EXPECT_EQ(verifyUserPin(app, "12345678"), SAR_PIN_INCORRECT);
  EXPECT_EQ(verifyUserPin(app, "13579"), SAR_OK);
  ASSERT_EQ(ext_.GetPINInfo(app, skf::USER_TYPE, &max, &left, &isDefault), SAR_OK);
  EXPECT_EQ(isDefault, 0);
  api_.SKF_DisConnectDev(dev);
}

class SigningTest : public SoftKeyTest {
 protected:
  void SetUp() override {
    SoftKeyTest::SetUp();
    makeKey("K1");
    RAND_bytes(digest_, sizeof digest_);
  }
  bool verifies(const skf::ECCSIGNATUREBLOB& sig) {
    // Only the right-aligned 32 bytes of each field carry the value.
    for (int i = 0; i < 32; ++i)
      if (sig.r[i] || sig.s[i]) return false;
    varo::pki::Bytes rs(sig.r + 32, sig.r + 64);
    rs.insert(rs.end(), sig.s + 32, sig.s + 64);
    varo::X509Ptr cert = varo::pki::certificateFromDer(varo::ByteSpan(cert_.data(), cert_.size()));
    varo::EvpPkeyPtr pub(X509_get_pubkey(cert.get()));
    return varo::pki::verifyDigest(pub.get(), varo::ByteSpan(digest_, 32),
                                   varo::ByteSpan(rs.data(), rs.size()));
  }
  unsigned char digest_[32];
};

TEST_F(SigningTest, SignatureOverTheGivenDigestVerifiesWithTheCertificateKey) {
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  skf::HCONTAINER con = openContainer(app);
  skf::ECCSIGNATUREBLOB sig;
  EXPECT_EQ(api_.SKF_ECCSignData(con, digest_, 32, &sig), skf::SAR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(verifyUserPin(app, "12345678"), SAR_OK);
  // The login of the application counts for its container, also after the
  // application handle was closed.
  ASSERT_EQ(api_.SKF_CloseApplication(app), SAR_OK);
  ASSERT_EQ(api_.SKF_ECCSignData(con, digest_, 32, &sig), SAR_OK);
  EXPECT_TRUE(verifies(sig));
  EXPECT_EQ(api_.SKF_ECCSignData(con, digest_, 31, &sig), skf::SAR_INDATALENERR);
  EXPECT_EQ(api_.SKF_ECCSignData(con, nullptr, 32, &sig), skf::SAR_INVALIDPARAMERR);
  EXPECT_EQ(api_.SKF_ECCSignData(con, digest_, 32, nullptr), skf::SAR_INVALIDPARAMERR);

  // A login on one application handle does not open another one.
  skf::HAPPLICATION other = openApp(dev);
  skf::HCONTAINER otherCon = openContainer(other);
  EXPECT_EQ(api_.SKF_ECCSignData(otherCon, digest_, 32, &sig), skf::SAR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(verifyUserPin(other, "12345678"), SAR_OK);
  EXPECT_EQ(api_.SKF_ECCSignData(otherCon, digest_, 32, &sig), SAR_OK);
  ASSERT_EQ(ext_.ClearSecureState(other), SAR_OK);
  EXPECT_EQ(api_.SKF_ECCSignData(otherCon, digest_, 32, &sig), skf::SAR_USER_NOT_LOGGED_IN);
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SigningTest, CertificateAndPublicKeyExportAnswerSizeQueries) {
  ASSERT_TRUE(admin().addContainer("K1", "Rsa", {skf::CONTAINER_RSA, cert_, {}, {}}));
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  skf::HCONTAINER con = openContainer(app);

  ULONG len = 0;
  ASSERT_EQ(api_.SKF_ExportCertificate(con, 1, nullptr, &len), SAR_OK);
  EXPECT_EQ(len, cert_.size());
  std::vector<unsigned char> buf(4096);
  ULONG shortLen = len - 1;
  EXPECT_EQ(api_.SKF_ExportCertificate(con, 1, buf.data(), &shortLen), skf::SAR_BUFFER_TOO_SMALL);
  EXPECT_EQ(shortLen, len);
  ULONG full = 4096;
  ASSERT_EQ(api_.SKF_ExportCertificate(con, 1, buf.data(), &full), SAR_OK);
  EXPECT_EQ(varo::pki::Bytes(buf.begin(), buf.begin() + full), cert_);
  full = 4096;
  EXPECT_EQ(api_.SKF_ExportCertificate(con, 0, buf.data(), &full), skf::SAR_CERTNOTFOUNTERR);

  ASSERT_EQ(ext_.ExportPublicKey(con, 1, nullptr, &len), SAR_OK);
  EXPECT_EQ(len, sizeof(skf::ECCPUBLICKEYBLOB));
  skf::ECCPUBLICKEYBLOB blob;
  len = sizeof blob;
  ASSERT_EQ(ext_.ExportPublicKey(con, 1, reinterpret_cast<unsigned char*>(&blob), &len), SAR_OK);
  varo::EvpPkeyPtr key = varo::pki::privateKeyFromDer(varo::ByteSpan(key_.data(), key_.size()));
  varo::pki::Bytes xy = varo::pki::publicKeyXY(key.get());
  EXPECT_EQ(blob.BitLen, 256u);
  EXPECT_EQ(varo::pki::Bytes(blob.XCoordinate + 32, blob.XCoordinate + 64),
            varo::pki::Bytes(xy.begin(), xy.begin() + 32));
  EXPECT_EQ(varo::pki::Bytes(blob.YCoordinate + 32, blob.YCoordinate + 64),
            varo::pki::Bytes(xy.begin() + 32, xy.end()));

  skf::HCONTAINER rsa = openContainer(app, "Rsa");
  ULONG type = 0;
  ASSERT_EQ(api_.SKF_GetContainerType(rsa, &type), SAR_OK);
  EXPECT_EQ(type, skf::CONTAINER_RSA);
  ASSERT_EQ(verifyUserPin(app, "12345678"), SAR_OK);
  skf::ECCSIGNATUREBLOB sig;
  EXPECT_EQ(api_.SKF_ECCSignData(rsa, digest_, 32, &sig), skf::SAR_KEYINFOTYPEERR);
  api_.SKF_DisConnectDev(dev);
}

}  // namespace
}  // namespace softkey_test
