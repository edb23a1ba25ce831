// Device list, connection, device information and handle validity.
#include <cstddef>
#include <cstring>

#include "softkey_fixture.h"

namespace softkey_test {
namespace {

using skf::SAR_BUFFER_TOO_SMALL;
using skf::SAR_INVALIDHANDLEERR;
using skf::SAR_OK;

TEST_F(SoftKeyTest, DeviceListFollowsAttachedKeysAndSizeRules) {
  struct Case {
    const char* what;
    std::vector<std::string> attached, detached;
    skf::BOOL present;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty store", {}, {}, 1, {}},
      {"one key", {"K1"}, {}, 1, {"K1"}},
      {"two keys in name order", {"K2", "K1"}, {}, 1, {"K1", "K2"}},
      {"detached key is not present", {"K1"}, {"K2"}, 1, {"K1"}},
      {"all known keys include detached", {"K1"}, {"K2"}, 0, {"K1", "K2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& k : admin().listKeys()) ASSERT_TRUE(admin().removeKey(k.name));
    for (const auto& n : c.attached) makeKey(n, false);
    for (const auto& n : c.detached) {
      makeKey(n, false);
      ASSERT_TRUE(admin().detachKey(n));
    }
    std::string want;
    for (const auto& n : c.expected) want += n + '\0';
    want += '\0';

    ULONG size = 0;
    ASSERT_EQ(api_.SKF_EnumDev(c.present, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, want.size());
    char buf[256];
    std::memset(buf, 0x55, sizeof buf);
    ULONG shortSize = size - 1;
    EXPECT_EQ(api_.SKF_EnumDev(c.present, buf, &shortSize), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortSize, size);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x55) << "a refused buffer stays untouched";
    ULONG full = sizeof buf;
    ASSERT_EQ(api_.SKF_EnumDev(c.present, buf, &full), SAR_OK);
    EXPECT_EQ(full, want.size());
    EXPECT_EQ(std::string(buf, full), want);
  }
  EXPECT_EQ(api_.SKF_EnumDev(1, nullptr, nullptr), skf::SAR_INVALIDPARAMERR);
}

TEST_F(SoftKeyTest, ConnectRefusesWhatIsNotAnAttachedKey) {
  makeKey("K1", false);
  makeKey("Gone", false);
  ASSERT_TRUE(admin().detachKey("Gone"));
  struct Case {
    const char* name;
    ULONG expected;
  } cases[] = {
      {"K1", SAR_OK},
      {"", skf::SAR_INVALIDPARAMERR},
      {"K2", skf::SAR_DEVICE_REMOVED},
      {"Gone", skf::SAR_DEVICE_REMOVED},
      {"../K1", skf::SAR_INVALIDPARAMERR},
      {".detached", skf::SAR_INVALIDPARAMERR},
      {"K1/..", skf::SAR_INVALIDPARAMERR},
  };
  for (const auto& c : cases) {
    skf::DEVHANDLE dev = nullptr;
    EXPECT_EQ(api_.SKF_ConnectDev(const_cast<char*>(c.name), &dev), c.expected) << c.name;
    if (c.expected == SAR_OK) {
      EXPECT_EQ(api_.SKF_DisConnectDev(dev), SAR_OK);
    }
  }
  skf::DEVHANDLE dev = nullptr;
  EXPECT_EQ(api_.SKF_ConnectDev(nullptr, &dev), skf::SAR_INVALIDPARAMERR);
  EXPECT_EQ(api_.SKF_ConnectDev(const_cast<char*>("K1"), nullptr), skf::SAR_INVALIDPARAMERR);
}

TEST_F(SoftKeyTest, DeviceInfoCarriesTheSerialInItsPackedField) {
  struct Case {
    std::string serial;
    std::string expectedField;  // the 32 bytes of SerialNumber
  } cases[] = {
      {"0123456789", std::string("0123456789") + std::string(22, '\0')},
      {std::string(32, 'S'), std::string(32, 'S')},  // full field, no terminator
      {"", std::string(32, '\0')},
  };
  makeKey("K1", false);
  for (const auto& c : cases) {
    ASSERT_TRUE(admin().setSerial("K1", c.serial));
    skf::DEVHANDLE dev = connect("K1");
    unsigned char raw[sizeof(skf::DEVINFO) + 8];
    std::memset(raw, 0xAB, sizeof raw);
    ASSERT_EQ(api_.SKF_GetDevInfo(dev, reinterpret_cast<skf::DEVINFO*>(raw)), SAR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw) + 162, 32), c.expectedField);
    EXPECT_EQ(raw[sizeof(skf::DEVINFO)], 0xAB) << "nothing written past the 294 bytes";
    // SM2 signing and encryption (GM/T 0006 identifiers) beside the family.
    const ULONG asymmetric = reinterpret_cast<skf::DEVINFO*>(raw)->AlgAsymCap;
    EXPECT_EQ(asymmetric, 0x00020B00u);
    api_.SKF_DisConnectDev(dev);
  }
}

TEST_F(SoftKeyTest, StaleAndForeignHandlesAreRefused) {
  makeKey("K1");
  int local = 0;
  void* foreign[] = {nullptr, &local, reinterpret_cast<void*>(0x1234)};
  for (void* h : foreign) {
    ULONG size = 0, type = 0;
    EXPECT_EQ(api_.SKF_DisConnectDev(h), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(api_.SKF_EnumApplication(h, nullptr, &size), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(api_.SKF_ReadFile(h, const_cast<char*>("F"), 0, 1, nullptr, &size),
              SAR_INVALIDHANDLEERR);
    EXPECT_EQ(api_.SKF_GetContainerType(h, &type), SAR_INVALIDHANDLEERR);
  }

  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  skf::HCONTAINER con = openContainer(app);
  ULONG size = 0, type = 0;
  // A handle of one kind is not accepted where another kind is expected.
  EXPECT_EQ(api_.SKF_EnumContainer(dev, nullptr, &size), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_EnumApplication(app, nullptr, &size), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_GetContainerType(app, &type), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_CloseApplication(con), SAR_INVALIDHANDLEERR);

  // Closing the application leaves its container usable.
  EXPECT_EQ(api_.SKF_CloseApplication(app), SAR_OK);
  EXPECT_EQ(api_.SKF_CloseApplication(app), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_EnumFiles(app, nullptr, &size), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_GetContainerType(con, &type), SAR_OK);
  EXPECT_EQ(type, skf::CONTAINER_ECC);
  EXPECT_EQ(api_.SKF_CloseContainer(con), SAR_OK);
  EXPECT_EQ(api_.SKF_CloseContainer(con), SAR_INVALIDHANDLEERR);

  // Disconnecting ends every handle opened below the device.
  app = openApp(dev);
  con = openContainer(app);
  EXPECT_EQ(api_.SKF_DisConnectDev(dev), SAR_OK);
  EXPECT_EQ(api_.SKF_GetContainerType(con, &type), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_CloseApplication(app), SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_DisConnectDev(dev), SAR_INVALIDHANDLEERR);
}

TEST_F(SoftKeyTest, UnpluggedKeyAnswersDeviceRemoved) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  ULONG state = 9;
  EXPECT_EQ(ext_.GetDevState(const_cast<char*>("K1"), &state), SAR_OK);
  EXPECT_EQ(state, skf::DEV_PRESENT_STATE);
  ASSERT_TRUE(admin().detachKey("K1"));
  EXPECT_EQ(ext_.GetDevState(const_cast<char*>("K1"), &state), SAR_OK);
  EXPECT_EQ(state, skf::DEV_ABSENT_STATE);
  ULONG size = 0;
  skf::DEVINFO info;
  EXPECT_EQ(api_.SKF_GetDevInfo(dev, &info), skf::SAR_DEVICE_REMOVED);
  EXPECT_EQ(api_.SKF_EnumFiles(app, nullptr, &size), skf::SAR_DEVICE_REMOVED);
  ASSERT_TRUE(admin().attachKey("K1"));
  EXPECT_EQ(api_.SKF_EnumFiles(app, nullptr, &size), SAR_OK);
}

TEST_F(SoftKeyTest, ApplicationsAndContainersAreListedInCreationOrder) {
  makeKey("K1");
  ASSERT_TRUE(admin().addApplication("K1", "Second"));
  ASSERT_TRUE(admin().generateContainer("K1", "Another", {}));
  skf::DEVHANDLE dev = connect("K1");
  char buf[256] = {};
  ULONG size = sizeof buf;
  ASSERT_EQ(api_.SKF_EnumApplication(dev, buf, &size), SAR_OK);
  EXPECT_EQ(splitNames(buf, size), (std::vector<std::string>{"SealApp", "Second"}));
  skf::HAPPLICATION app = openApp(dev);
  size = sizeof buf;
  ASSERT_EQ(api_.SKF_EnumContainer(app, buf, &size), SAR_OK);
  EXPECT_EQ(splitNames(buf, size), (std::vector<std::string>{"Sign", "Another"}));
  skf::HAPPLICATION second = openApp(dev, "Second");
  size = sizeof buf;
  ASSERT_EQ(api_.SKF_EnumContainer(second, buf, &size), SAR_OK);
  EXPECT_EQ(size, 1u) << "an empty list is its terminating zero";
  skf::HAPPLICATION none = nullptr;
  EXPECT_EQ(api_.SKF_OpenApplication(dev, const_cast<char*>("Nope"), &none),
            skf::SAR_APPLICATION_NOT_EXISTS);
  skf::HCONTAINER c = nullptr;
  EXPECT_EQ(api_.SKF_OpenContainer(app, const_cast<char*>("Nope"), &c), skf::SAR_FAIL);
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SoftKeyTest, DeviceLockRandomAndUnsupportedFunctions) {
  makeKey("K1", false);
  skf::DEVHANDLE a = connect("K1"), b = connect("K1");
  EXPECT_EQ(ext_.LockDev(a, 0), SAR_OK);
  EXPECT_EQ(ext_.LockDev(a, 0), SAR_OK) << "a second lock by the holder";
  EXPECT_EQ(ext_.LockDev(b, 30), skf::SAR_TIMEOUTERR);
  EXPECT_EQ(ext_.UnlockDev(a), SAR_OK);
  EXPECT_EQ(ext_.LockDev(b, 30), SAR_OK);
  EXPECT_EQ(api_.SKF_DisConnectDev(b), SAR_OK);  // disconnecting unlocks
  EXPECT_EQ(ext_.LockDev(a, 30), SAR_OK);

  unsigned char r1[32] = {}, r2[32] = {};
  EXPECT_EQ(ext_.GenRandom(a, r1, sizeof r1), SAR_OK);
  EXPECT_EQ(ext_.GenRandom(a, r2, sizeof r2), SAR_OK);
  EXPECT_NE(std::memcmp(r1, r2, sizeof r1), 0);
  EXPECT_EQ(ext_.GenRandom(a, nullptr, 8), skf::SAR_INVALIDPARAMERR);
  api_.SKF_DisConnectDev(a);

  // The rest of the interface is there for every client and says so.
  using NoArgs = ULONG (*)();
  for (const char* name : {"SKF_WaitForDevEvent",
                           "SKF_CancelWaitForDevEvent",
                           "SKF_Transmit",
                           "SKF_CreateApplication",
                           "SKF_DeleteApplication",
                           "SKF_CreateContainer",
                           "SKF_DeleteContainer",
                           "SKF_ImportCertificate",
                           "SKF_GenExtRSAKey",
                           "SKF_GenRSAKeyPair",
                           "SKF_ImportRSAKeyPair",
                           "SKF_RSASignData",
                           "SKF_RSAVerify",
                           "SKF_RSAExportSessionKey",
                           "SKF_ExtRSAPubKeyOperation",
                           "SKF_ExtRSAPriKeyOperation",
                           "SKF_GenECCKeyPair",
                           "SKF_ImportECCKeyPair",
                           "SKF_ECCVerify",
                           "SKF_ECCExportSessionKey",
                           "SKF_ExtECCEncrypt",
                           "SKF_ExtECCDecrypt",
                           "SKF_ExtECCSign",
                           "SKF_ExtECCVerify",
                           "SKF_GenerateAgreementDataWithECC",
                           "SKF_GenerateAgreementDataAndKeyWithECC",
                           "SKF_GenerateKeyWithECC",
                           "SKF_ImportSessionKey",
                           "SKF_DigestInit",
                           "SKF_Digest",
                           "SKF_DigestUpdate",
                           "SKF_DigestFinal",
                           "SKF_MacInit",
                           "SKF_Mac",
                           "SKF_MacUpdate",
                           "SKF_MacFinal"}) {
    auto fn = lib_->resolve<NoArgs>(name);
    ASSERT_NE(fn, nullptr) << name;
    EXPECT_EQ(fn(), skf::SAR_NOTSUPPORTYETERR) << name;
  }
  for (const char* name : {"SKF_SetLabel", "SKF_GetFileInfo", "SKF_UnblockPIN"})
    EXPECT_NE(lib_->resolve<NoArgs>(name), nullptr) << name;
}

}  // namespace
}  // namespace softkey_test
