// DoIt of the key-info plug-in against the installed tool library and driver,
// on software keys in a temporary store.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "VaroGetUKInfo.h"
#include "varo/tmp_files.h"
#include "varo/install_root.h"
#include "varo/temp_key_store.h"

namespace {

namespace fs = std::filesystem;

const std::string kDriverPrefix =
    std::string(varo::kInstallRoot) + varo::kDriverDirectory + "VaroDeviceBase_";
const std::string kLoad = "ERROR:Load Library " + kDriverPrefix;

std::string doIt(const std::string& input) {
  std::vector<char> out(16384, 0);
  DoIt(input.c_str(), out.data());
  return out.data();
}
std::string request(const std::string& type, const std::string& standard) {
  return "{\"UKTYPE\":\"" + type + "\",\"STANDARD\":\"" + standard + "\"}";
}

// Undoes a change to the installed tree at the end of the scope.
struct Undo {
  std::function<void()> undo;
  ~Undo() { undo(); }
};

TEST(KeyInfo, RefusesBadRequestsInOrder) {
  varo::testing::TempKeyStore store("key-info-keys");
  // A directory in the driver directory through which a key type with ".."
  // would reach the tool library.
  fs::create_directory(kDriverPrefix + "KEYINFO_DIR");
  Undo removeDir{[] { fs::remove(kDriverPrefix + "KEYINFO_DIR"); }};
  const std::string escape = "KEYINFO_DIR/../../VaroCommon/ToolBench", longType(5000, 'A');
  const std::string wrongType = "ERROR:错误的印章类型", noStandard = "ERROR:缺少印章标准",
                    wrongStandard = "ERROR:错误的印章标准";
  const std::pair<std::string, std::string> cases[] = {
      {"{\"STANDARD\":\"1\"}", wrongType},
      {"{\"UKTYPE\":4,\"STANDARD\":\"1\"}", wrongType},
      {"not json", wrongType},
      {"{\"UKTYPE\":\"LM_GM3000\"}", noStandard},
      {"{\"UKTYPE\":\"LM_GM3000\",\"STANDARD\":4}", noStandard},
      {request("LM_GM3000", "3"), wrongStandard},
      {request("LM_GM3000", "8"), wrongStandard},
      {request("LM_GM3000", "abc"), wrongStandard},
      {request("NO_SUCH_KEY", "1"), kLoad + "NO_SUCH_KEY.so"},
      {request(escape, "1"), kLoad + escape + ".so"},
      {request("LM_GM3000\\u0000", "1"), kLoad + "LM_GM3000"},  // the text ends at the zero
      {request(longType, "1"), kLoad + longType + ".so"},
      // No key: both operations fail to connect.
      {request("LM_GM3000", "1"), "ERROR:无法打开设备"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(doIt(input), expected) << input;

  char untouched[4] = "abc";
  DoIt(nullptr, untouched);
  DoIt(request("LM_GM3000", "1").c_str(), nullptr);
  EXPECT_STREQ(untouched, "abc");
}

TEST(KeyInfo, ReportsAMissingToolLibraryAndAFactoryWithoutObject) {
  {
    varo::testing::MovedAside aside(varo::kToolLibraryPath);
    ASSERT_TRUE(aside.moved());
    EXPECT_EQ(doIt(request("LM_GM3000", "1")), "ERROR:加载工具库失败");
  }
  fs::copy_file(NULL_DRIVER_PATH, kDriverPrefix + "KEYINFO_NULL.so",
                fs::copy_options::overwrite_existing);
  Undo remove{[] { fs::remove(kDriverPrefix + "KEYINFO_NULL.so"); }};
  EXPECT_EQ(doIt(request("KEYINFO_NULL", "1")), kLoad + "KEYINFO_NULL.so");
}

TEST(KeyInfo, AnswersTheCertificateOfTheStandardsKindAndTheSerial) {
  varo::testing::TempKeyStore store("key-info-keys");
  varo::softkey::KeySetup setup;
  setup.serial = "KISERIAL0001";
  ASSERT_TRUE(store->createKey("KEY01", setup).ok());
  // Without an ECC container only the certificate fails.
  EXPECT_EQ(doIt(request("LM_GM3000", "1")), "ERROR:设备中无指定类型的证书");

  varo::softkey::ContainerMaterial rsa;
  rsa.type = 1;
  rsa.signCert = {0x30, 0x01, 0x00};
  varo::softkey::Bytes ecc;
  ASSERT_TRUE(store->addContainer("KEY01", "RSA", rsa).ok());
  ASSERT_TRUE(store->generateContainer("KEY01", "SM2", {}, &ecc).ok());
  const std::string eccJson = "{\"UKID\":\"KISERIAL0001\",\"CERT\":\"" +
                              QByteArray(reinterpret_cast<const char*>(ecc.data()), int(ecc.size()))
                                  .toBase64()
                                  .toStdString() +
                              "\"}";
  const std::pair<const char*, std::string> cases[] = {
      {"4", "{\"UKID\":\"KISERIAL0001\",\"CERT\":\"MAEA\"}"},
      {"1", eccJson},
      {"2", eccJson},
      {"7", eccJson}};
  for (const auto& [standard, expected] : cases)
    EXPECT_EQ(doIt(request("LM_GM3000", standard)), expected) << standard;

  // Both fail: the identifier's message is the one that remains.
  varo::softkey::FaultSpec timeout;
  timeout.function = "SKF_GetDevInfo";
  timeout.code = 0x0A00000F;
  ASSERT_TRUE(store->addFault(timeout).ok());
  EXPECT_EQ(doIt(request("LM_GM3000", "4")), "ERROR:超时");
  ASSERT_TRUE(store->removeContainer("KEY01", "RSA").ok());
  EXPECT_EQ(doIt(request("LM_GM3000", "4")), "ERROR:超时");
  ASSERT_TRUE(store->clearFaults().ok());

  ASSERT_TRUE(store->createKey("KEY02").ok());
  EXPECT_EQ(doIt(request("LM_GM3000", "1")), "ERROR:请确保只有一个设备与电脑连接");
}

}  // namespace
