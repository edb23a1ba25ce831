// The signing module against software keys in a temporary store: finding
// the key, choosing the application and container, the PIN, the signature
// value and the result code of every SKF failure.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "TokenSign_LM.h"
#include "varo/install_root.h"
#include "varo/pki.h"
#include "varo/temp_key_store.h"

namespace {

using varo::softkey::Bytes;
using varo::softkey::FaultSpec;

constexpr const char* kPin = "12345678";

std::string vendorLibrary() {
  return std::string(varo::kInstallRoot) + varo::kVendorKeyLibraryPath;
}

Bytes digestOf(int seed) {
  Bytes e(32);
  for (size_t i = 0; i < e.size(); ++i) e[i] = uint8_t(seed * 31 + i * 7);
  return e;
}

// Two keys: KEY01 with the signer's container "Signer" after an unrelated
// one, KEY02 with a container of its own.
class TokenSignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ok());
    varo::softkey::KeySetup setup;
    setup.maxRetries = 3;
    ASSERT_TRUE(store_->createKey("KEY01", setup).ok());
    ASSERT_TRUE(store_->createKey("KEY02", setup).ok());
    ASSERT_TRUE(store_->generateContainer("KEY01", "Other", request("CN=Other"), &otherCert_).ok());
    ASSERT_TRUE(store_->generateContainer("KEY01", "Signer", request("CN=Signer"), &cert_).ok());
    ASSERT_TRUE(store_->generateContainer("KEY02", "Second", request("CN=Two"), &cert2_).ok());
  }
  static varo::softkey::CertificateRequest request(const std::string& dn) {
    varo::softkey::CertificateRequest r;
    r.subjectDn = dn + ",O=Varo";
    return r;
  }

  // SignData with the given device (null: by certificate); *rs receives the value.
  int sign(const char* device, const char* pin, const Bytes& cert, const Bytes& e, Bytes* rs) {
    std::string dev = device ? device : "";
    std::string p = pin;
    Bytes c = cert, d = e;
    rs->assign(64, 0xEE);
    unsigned int length = 0;
    int rc = SignData(device ? dev.data() : nullptr, p.data(), d.data(), int(d.size()), c.data(),
                      int(c.size()), rs->data(), &length);
    if (rc == 0) {
      EXPECT_EQ(length, 64u);
    }
    return rc;
  }
  // SignData_SM2_UK_SKF_IN on KEY01 with the signer's certificate.
  int signInner(const std::string& library, const char* device, unsigned int capacity,
                bool withBuffer = true) {
    std::string lib = library, dev = device ? device : "", pin = kPin;
    Bytes c = cert_, e = digestOf(1), out(2000);
    unsigned int length = capacity;
    return SignData_SM2_UK_SKF_IN(lib.data(), device ? dev.data() : nullptr, pin.data(), c.data(),
                                  int(c.size()), e.data(), int(e.size()),
                                  withBuffer ? out.data() : nullptr, &length);
  }
  int findDevice(const Bytes& cert, std::string* name) {
    std::string lib = vendorLibrary();
    // Exactly the given bytes, so that a read past them is seen by the
    // address sanitizer.
    std::unique_ptr<unsigned char[]> c(new unsigned char[cert.size() ? cert.size() : 1]);
    if (!cert.empty()) std::memcpy(c.get(), cert.data(), cert.size());
    char out[kDeviceNameCapacity] = {};
    int rc = GetDevNameByCert(lib.data(), c.get(), int(cert.size()), out);
    *name = out;
    return rc;
  }
  bool verifies(const Bytes& cert, const Bytes& e, const Bytes& rs) {
    auto x509 = varo::pki::certificateFromDer(varo::ByteSpan(cert.data(), cert.size()));
    if (!x509) return false;
    varo::EvpPkeyPtr key(X509_get_pubkey(x509.get()));
    return varo::pki::verifyDigest(key.get(), varo::ByteSpan(e.data(), e.size()),
                                   varo::ByteSpan(rs.data(), rs.size()));
  }
  void fault(const std::string& function, const std::string& name = "") {
    FaultSpec f;
    f.function = function;
    f.code = 0x0A000001;
    f.name = name;
    ASSERT_TRUE(store_->addFault(f).ok());
  }

  varo::testing::TempKeyStore store_{"tokensign-keys"};
  Bytes cert_, otherCert_, cert2_;
};

TEST_F(TokenSignTest, FindsTheKeyByNameOrByCertificate) {
  Bytes unknown = cert2_;
  unknown[unknown.size() - 1] ^= 0x55;
  struct Case {
    const char* device;
    const Bytes* cert;
    int rc;
  };
  const Case cases[] = {
      {"KEY01", &cert_, kTokenSignOk},
      {nullptr, &cert_, kTokenSignOk},
      {nullptr, &cert2_, kTokenSignOk},
      {"KEY02", &cert2_, kTokenSignOk},
      {"KEY02", &cert_, kTokenSignNoMatch},
      {"NOKEY", &cert_, kTokenSignConnectFailed},
      {nullptr, &unknown, kTokenSignCertNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device ? c.device : "(by certificate)") + " " +
                 std::to_string(&c - cases));
    Bytes e = digestOf(int(&c - cases)), rs;
    ASSERT_EQ(sign(c.device, kPin, *c.cert, e, &rs), c.rc);
    if (c.rc == kTokenSignOk) {
      EXPECT_TRUE(verifies(*c.cert, e, rs));
    }
  }
  std::string name;
  EXPECT_EQ(findDevice(cert2_, &name), kDevNameFound);
  EXPECT_EQ(name, "KEY02");
  EXPECT_EQ(findDevice(unknown, &name), kDevNameNotFound);
}

TEST_F(TokenSignTest, KeyIsFoundAmongMoreNamesThanTheListBufferHolds) {
  // Four more keys with 64-character names: the list needs over 256 bytes.
  for (char c : std::string("ABCD")) {
    const std::string device = std::string(1, c) + std::string(63, 'L');
    Bytes cert;
    ASSERT_TRUE(store_->createKey(device).ok());
    ASSERT_TRUE(store_->generateContainer(device, "Seal", request("CN=Long"), &cert).ok());
  }
  std::string name;
  EXPECT_EQ(findDevice(cert2_, &name), kDevNameFound);
  EXPECT_EQ(name, "KEY02");
  Bytes e = digestOf(9), rs;
  ASSERT_EQ(sign(nullptr, kPin, cert_, e, &rs), kTokenSignOk);
  EXPECT_TRUE(verifies(cert_, e, rs));
}

TEST_F(TokenSignTest, UsesTheSecondApplicationWhenTheFirstHoldsNoMatch) {
  ASSERT_TRUE(store_->createKey("KEY03").ok());
  ASSERT_TRUE(store_->generateContainer("KEY03", "Decoy", request("CN=Decoy")).ok());
  ASSERT_TRUE(store_->addApplication("KEY03", "Later", kPin).ok());
  Bytes laterCert;
  ASSERT_TRUE(
      store_->generateContainer("KEY03", "Seal", request("CN=Later"), &laterCert, nullptr, "Later")
          .ok());
  Bytes e = digestOf(7), rs;
  EXPECT_EQ(sign("KEY03", kPin, laterCert, e, &rs), kTokenSignOk);
  EXPECT_TRUE(verifies(laterCert, e, rs));
  // The search by certificate looks only at each key's first application.
  EXPECT_EQ(sign(nullptr, kPin, laterCert, e, &rs), kTokenSignCertNotFound);
}

TEST_F(TokenSignTest, WrongPinFailsAndCountsDownTheRetries) {
  Bytes e = digestOf(3), rs;
  EXPECT_EQ(sign("KEY01", "00000000", cert_, e, &rs), kTokenSignPinFailed);
  EXPECT_EQ(sign("KEY01", "00000000", cert_, e, &rs), kTokenSignPinFailed);
  // A right PIN still works with one try left, and restores the counter.
  EXPECT_EQ(sign("KEY01", kPin, cert_, e, &rs), kTokenSignOk);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(sign("KEY01", "00000000", cert_, e, &rs), kTokenSignPinFailed);
  // Three wrong tries lock the PIN: the right one no longer helps.
  EXPECT_EQ(sign("KEY01", kPin, cert_, e, &rs), kTokenSignPinFailed);
  // The other key is not affected.
  EXPECT_EQ(sign("KEY02", kPin, cert2_, e, &rs), kTokenSignOk);
}

TEST_F(TokenSignTest, CertificateEqualButForItsLengthIsNoMatch) {
  Bytes shorter(cert_.begin(), cert_.end() - 1);
  Bytes longer = cert_;
  longer.push_back(0);
  Bytes e = digestOf(4), rs;
  EXPECT_EQ(sign("KEY01", kPin, shorter, e, &rs), kTokenSignNoMatch);
  EXPECT_EQ(sign("KEY01", kPin, longer, e, &rs), kTokenSignNoMatch);
  // The search compares over the stored certificate's length only, and never
  // reads past the given bytes.
  std::string name;
  EXPECT_EQ(findDevice(shorter, &name), kDevNameNotFound);
  EXPECT_EQ(findDevice(longer, &name), kDevNameFound);
  EXPECT_EQ(findDevice(Bytes(), &name), kDevNameNotFound);
}

TEST_F(TokenSignTest, SignatureValueKeepsLeadingZeroBytes) {
  bool sawLeadingZero = false;
  for (int i = 0; i < 3000 && !sawLeadingZero; ++i) {
    Bytes e = digestOf(i), rs;
    ASSERT_EQ(sign("KEY01", kPin, cert_, e, &rs), kTokenSignOk);
    ASSERT_EQ(rs.size(), 64u);
    if (rs[0] == 0 || rs[32] == 0) {
      sawLeadingZero = true;
      EXPECT_TRUE(verifies(cert_, e, rs));
    }
  }
  EXPECT_TRUE(sawLeadingZero);
}

TEST_F(TokenSignTest, ArgumentChecksComeBeforeTheKey) {
  EXPECT_EQ(signInner(vendorLibrary(), "KEY01", 999), kTokenSignBufferTooSmall);
  EXPECT_EQ(signInner(vendorLibrary(), "KEY01", 1000, false), kTokenSignNoBuffer);
  EXPECT_EQ(signInner("/nonexistent/libk5.1.0.so", "KEY01", 2000), kTokenSignNoLibrary);
  EXPECT_EQ(signInner(vendorLibrary(), nullptr, 2000), kTokenSignNoDeviceName);
  EXPECT_EQ(signInner(vendorLibrary(), "KEY01", 1000), kTokenSignOk);
  std::string lib = "/nonexistent/libk5.1.0.so", name;
  char out[kDeviceNameCapacity] = {};
  EXPECT_EQ(GetDevNameByCert(lib.data(), cert_.data(), int(cert_.size()), out), kDevNameNoLibrary);
  // A device name longer than a device name buffer never reaches the key.
  Bytes e = digestOf(5), rs;
  EXPECT_EQ(sign(std::string(120, 'K').c_str(), kPin, cert_, e, &rs), kTokenSignConnectFailed);
  // No key attached at all.
  ASSERT_TRUE(store_->detachKey("KEY01").ok());
  ASSERT_TRUE(store_->detachKey("KEY02").ok());
  EXPECT_EQ(findDevice(cert_, &name), kDevNameNoDevice);
}

TEST_F(TokenSignTest, EachKeyFailureMapsToItsCode) {
  struct Case {
    const char* function;
    int withDevice;  // SignData_SM2_UK_SKF_IN on KEY01
    int findResult;  // GetDevNameByCert
  };
  const Case cases[] = {
      {"SKF_EnumDev", kTokenSignOk, kDevNameNoDevice},
      {"SKF_ConnectDev", kTokenSignConnectFailed, kDevNameConnectFailed},
      {"SKF_EnumApplication", kTokenSignEnumAppsFailed, kDevNameEnumAppsFailed},
      {"SKF_OpenApplication", kTokenSignNoMatch, kDevNameAppFailed},
      {"SKF_VerifyPIN", kTokenSignPinFailed, kDevNameFound},
      {"SKF_EnumContainer", kTokenSignNoMatch, kDevNameAppFailed},
      {"SKF_OpenContainer", kTokenSignNoMatch, kDevNameNotFound},
      {"SKF_ExportCertificate", kTokenSignNoMatch, kDevNameNotFound},
      {"SKF_ECCSignData", kTokenSignSignFailed, kDevNameFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    fault(c.function);
    EXPECT_EQ(signInner(vendorLibrary(), "KEY01", 2000), c.withDevice);
    std::string name;
    EXPECT_EQ(findDevice(cert_, &name), c.findResult);
    // Through SignData without a device name every search failure reads as
    // "not found"; once found, the signing routine's own code comes back.
    Bytes e = digestOf(6), rs;
    int bySearch = sign(nullptr, kPin, cert_, e, &rs);
    EXPECT_EQ(bySearch, c.findResult == kDevNameFound ? c.withDevice : kTokenSignCertNotFound);
    ASSERT_TRUE(store_->clearFaults().ok());
  }
  // After the faults the key signs again: nothing was left open or locked.
  EXPECT_EQ(signInner(vendorLibrary(), "KEY01", 2000), kTokenSignOk);
}

}  // namespace
