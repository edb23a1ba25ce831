// Identity, certificates and PIN of the key through the installed driver on
// software keys: results, LastError, the closing rules, and the common
// failures of the key access sequence.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver_fixture.h"
#include "varo/pki.h"

namespace {

using varo::softkey::Bytes;
using varo::softkey::FaultSpec;
using varo::testing::CallCounter;
using varo::testing::InstalledDriver;

constexpr uint32_t kFail = 0x0A000001;

varo::softkey::CertificateRequest request(const std::string& cn) {
  varo::softkey::CertificateRequest r;
  r.subjectDn = "CN=" + cn + ",O=Varo";
  return r;
}

// KEY01: an RSA container "Rsa" holding a certificate, an ECC container
// "Sign" with its key pair.
class KeyIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.ok());
    varo::softkey::KeySetup setup;
    setup.serial = "SN-0001";
    setup.maxRetries = 5;
    ASSERT_TRUE(keys_->createKey("KEY01", setup).ok());
    ASSERT_TRUE(keys_->createKey("SPARE", setup).ok());
    ASSERT_TRUE(keys_->generateContainer("SPARE", "Other", request("Other"), &otherCert_).ok());
    varo::softkey::ContainerMaterial rsa;
    rsa.type = 1;
    rsa.signCert = otherCert_;
    ASSERT_TRUE(keys_->addContainer("KEY01", "Rsa", rsa).ok());
    ASSERT_TRUE(keys_->generateContainer("KEY01", "Sign", request("Signer"), &eccCert_).ok());
    ASSERT_TRUE(keys_->detachKey("SPARE").ok());
    ASSERT_TRUE(driver_.ok());
  }
  void fault(const std::string& function, uint32_t code, const std::string& name = "",
             int64_t count = -1) {
    FaultSpec rule;
    rule.function = function;
    rule.code = code;
    rule.name = name;
    rule.count = count;
    ASSERT_TRUE(keys_->addFault(rule).ok());
  }
  int readCert(int kind, Bytes* cert) {
    cert->assign(5120, 0);
    int length = 5120;
    int rc = driver_->ReadCert(kind, cert->data(), &length);
    cert->resize(rc == 0 || rc == 0x1011 ? size_t(length) : 0);
    return rc;
  }
  int certExists(Bytes cert, int length) { return driver_->CertExists(cert.data(), length); }
  int changePin(std::string oldPin, std::string newPin) {
    return driver_->ChangePin(oldPin.data(), newPin.data());
  }

  varo::testing::TempKeyStore keys_;
  InstalledDriver driver_;
  Bytes eccCert_, otherCert_;
};

TEST_F(KeyIdentity, SerialNumberIsTheKeyIdentifier) {
  char id[50];
  std::memset(id, 0x7F, sizeof id);
  EXPECT_EQ(driver_->GetUKID(id), 0);
  EXPECT_STREQ(id, "SN-0001");
  // A serial that fills its 32-byte field is cut there and terminated.
  const std::string full(32, 'S');
  ASSERT_TRUE(keys_->setSerial("KEY01", full).ok());
  std::memset(id, 0x7F, sizeof id);
  EXPECT_EQ(driver_->GetUKID(id), 0);
  EXPECT_EQ(std::string(id), full);
  // A failing query returns its vendor code and leaves the output alone.
  fault("SKF_GetDevInfo", 0x0A000023, "", 1);
  std::memset(id, 0x7F, sizeof id);
  EXPECT_EQ(driver_->GetUKID(id), 0x0A000023);
  EXPECT_EQ(static_cast<unsigned char>(id[0]), 0x7F);
}

TEST_F(KeyIdentity, CertificateOfTheRequestedKind) {
  Bytes cert;
  EXPECT_EQ(readCert(2, &cert), 0);
  EXPECT_EQ(cert, eccCert_);
  EXPECT_EQ(readCert(1, &cert), 0);
  EXPECT_EQ(cert, otherCert_);
  EXPECT_EQ(readCert(3, &cert), 0x1005);

  // A container that does not open, or does not export, is passed over and
  // the walk goes on with the next one.
  fault("SKF_OpenContainer", kFail, "Rsa", 1);
  EXPECT_EQ(readCert(2, &cert), 0);
  EXPECT_EQ(cert, eccCert_);
  fault("SKF_ExportCertificate", kFail, "Sign", 1);
  EXPECT_EQ(readCert(2, &cert), 0x1005);

  // Two containers of the kind: both are exported, the caller gets the last.
  Bytes second;
  ASSERT_TRUE(keys_->generateContainer("KEY01", "Sign2", request("Second"), &second).ok());
  EXPECT_EQ(readCert(2, &cert), 0x1011);
  EXPECT_EQ(cert, second);
}

TEST_F(KeyIdentity, ApplicationAndContainerFailuresLeaveTheirDetail) {
  Bytes cert;
  const struct {
    const char* function;
    int readCert, certExists, changePin;
    int64_t lastError;
  } cases[] = {
      {"SKF_EnumApplication", 0x1005, 0x1012, 99, 0x1003},
      {"SKF_OpenApplication", 0x1005, 0x1012, 99, 0x1003},
      {"SKF_EnumContainer", 0x1005, 0x1012, 0, 0x1004},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(keys_->clearFaults().ok());
    fault(c.function, kFail);
    InstalledDriver fresh;
    EXPECT_EQ(fresh->ReadCert(2, cert.data(), nullptr), c.readCert) << c.function;
    EXPECT_EQ(fresh.lastError(), c.lastError) << c.function;
    EXPECT_EQ(fresh->CertExists(eccCert_.data(), int(eccCert_.size())), c.certExists);
    char pin[] = "12345678";
    EXPECT_EQ(fresh->ChangePin(pin, pin), c.changePin) << c.function;
  }
}

TEST_F(KeyIdentity, CertificateFoundByItsLeadingBytes) {
  const int n = int(eccCert_.size());
  const struct {
    const char* name;
    Bytes cert;
    int length;
    int result;
  } cases[] = {
      {"whole", eccCert_, n, 0},
      {"leading part", eccCert_, 40, 0},
      {"another key's", otherCert_, int(otherCert_.size()), 0},  // in the RSA container
      {"longer than any on the key", Bytes(5000, 0x30), 5000, 0x1012},
      {"zero length", eccCert_, 0, 0x1012},
      {"negative length", eccCert_, -3, 0x1012},
  };
  for (const auto& c : cases) EXPECT_EQ(certExists(c.cert, c.length), c.result) << c.name;
  Bytes changed = eccCert_;
  changed[n / 2] ^= 1;
  EXPECT_EQ(certExists(changed, n), 0x1012);
  // The given bytes beyond the key's certificate do not match its buffer.
  Bytes padded = eccCert_;
  padded.resize(eccCert_.size() + 8, 0);
  EXPECT_EQ(certExists(padded, int(padded.size())), 0x1012);
  EXPECT_EQ(driver_->CertExists(nullptr, 10), 0x1012);
}

TEST_F(KeyIdentity, ChangePinCountsTriesAndLocks) {
  EXPECT_EQ(changePin("12345678", "87654321"), 0);
  EXPECT_EQ(changePin("87654321", "11112222"), 0);  // the new PIN works
  EXPECT_EQ(changePin("00000000", "12345678"), 4);  // five tries, one used
  ASSERT_TRUE(keys_->setRetriesLeft("KEY01", 1).ok());
  EXPECT_EQ(changePin("00000000", "12345678"), -1);  // the last try locks
  EXPECT_EQ(changePin("11112222", "12345678"), -1);  // locked, right PIN too
}

TEST_F(KeyIdentity, ContainersAndApplicationAreClosedTheDeviceStays) {
  CallCounter containers(keys_.store(), "SKF_CloseContainer");
  CallCounter apps(keys_.store(), "SKF_CloseApplication");
  CallCounter devices(keys_.store(), "SKF_DisConnectDev");
  Bytes cert;
  EXPECT_EQ(readCert(2, &cert), 0);
  // Two containers opened one after the other, each closed.
  EXPECT_EQ(containers.calls(), 2);
  EXPECT_EQ(apps.calls(), 1);
  EXPECT_EQ(devices.calls(), 0);
  char id[50] = {};
  EXPECT_EQ(driver_->GetUKID(id), 0);
  EXPECT_EQ(devices.calls(), 1);
}

TEST_F(KeyIdentity, OneKeyIsRequired) {
  ASSERT_TRUE(keys_->attachKey("SPARE").ok());
  CallCounter connects(keys_.store(), "SKF_ConnectDev");
  Bytes cert(5120);
  int length = 0;
  char id[50] = {};
  char pin[] = "12345678";
  EXPECT_EQ(driver_->GetUKID(id), 0x1006);
  EXPECT_EQ(driver_->ReadCert(2, cert.data(), &length), 0x1006);
  EXPECT_EQ(driver_->CertExists(eccCert_.data(), int(eccCert_.size())), 0x1006);
  EXPECT_EQ(driver_->ChangePin(pin, pin), 0x1006);
  EXPECT_EQ(connects.calls(), 0);

  // No key: the empty list is offered to the connection, which refuses it;
  // a failing enumeration is 0x1001.
  ASSERT_TRUE(keys_->clearFaults().ok());
  ASSERT_TRUE(keys_->detachKey("SPARE").ok());
  ASSERT_TRUE(keys_->detachKey("KEY01").ok());
  EXPECT_EQ(driver_->GetUKID(id), 0x1002);
  EXPECT_EQ(driver_->ReadCert(2, cert.data(), &length), 0x1002);
  fault("SKF_EnumDev", kFail);
  EXPECT_EQ(driver_->GetUKID(id), 0x1001);
  EXPECT_EQ(driver_->CertExists(eccCert_.data(), int(eccCert_.size())), 0x1001);
  EXPECT_EQ(driver_->ChangePin(pin, pin), 0x1001);
}

}  // namespace
