// The driver as its callers see it: slot order, exports, the base class,
// the fixed answers and the message tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver_fixture.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::InstalledDriver;

// The twelve dispatched operations in slot order, by their exported names.
const char* const kSlotSymbols[] = {
    "_ZN24VaroDeviceBase_LM_GM30008ReadCertEiPhPi",
    "_ZN24VaroDeviceBase_LM_GM300012ReadSealListEPhPi",
    "_ZN24VaroDeviceBase_LM_GM30008ReadSealEPcPhPi",
    "_ZN24VaroDeviceBase_LM_GM30009WriteSealEPcS0_iiPhi",
    "_ZN24VaroDeviceBase_LM_GM300010GenKeyPairEiPhPi",
    "_ZN24VaroDeviceBase_LM_GM30009WriteCertEiPhi",
    "_ZN24VaroDeviceBase_LM_GM300011GetErrorMsgEiPc",
    "_ZN24VaroDeviceBase_LM_GM30007GetUKIDEPc",
    "_ZN24VaroDeviceBase_LM_GM30009GetUKTypeEPc",
    "_ZN24VaroDeviceBase_LM_GM300010CertExistsEPhi",
    "_ZN24VaroDeviceBase_LM_GM300010DeleteSealEPc",
    "_ZN24VaroDeviceBase_LM_GM30009ChangePinEPcS0_",
};

TEST(DriverInterface, EachSlotDispatchesToItsOperation) {
  varo::testing::TempKeyStore keys;  // no key attached
  InstalledDriver driver;
  ASSERT_TRUE(driver.ok());
  void* const* table = *reinterpret_cast<void* const* const*>(driver.get());
  for (size_t slot = 0; slot < std::size(kSlotSymbols); ++slot)
    EXPECT_EQ(table[slot], driver.library().resolve<void*>(kSlotSymbols[slot])) << slot;

  // Called through the interface, each slot gives its own answer.
  VaroDeviceBase* d = driver.get();
  unsigned char buffer[4096] = {};
  int length = 0;
  char text[64] = {};
  EXPECT_EQ(d->ReadCert(2, buffer, &length), 0x1002);
  EXPECT_EQ(d->GenKeyPair(0, buffer, &length), 0);
  EXPECT_EQ(d->WriteCert(0, buffer, 0), 0);
  d->GetErrorMsg(0x1006, text);
  EXPECT_STREQ(text, "请确保只有一个设备与电脑连接");
  EXPECT_EQ(d->GetUKID(text), 0x1002);
  d->GetUKType(text);
  EXPECT_STREQ(text, "LM_GM3000");
  EXPECT_EQ(d->CertExists(buffer, 10), 0x1002);
  char pin[] = "12345678";
  EXPECT_EQ(d->ChangePin(pin, pin), 0x1002);
}

TEST(DriverInterface, ExportsTheFactoryTheLogHooksAndTheClassOnly) {
  const std::string command = "nm -D --defined-only -C '" + varo::testing::installedDriverPath() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[1024];
  int count = 0;
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s(line);
    s = s.substr(s.find(' ', s.find(' ') + 1) + 1);
    s.pop_back();
    ++count;
    EXPECT_TRUE(s == "getObj" || s == "freeObj" || s == "writeLog(QString)" ||
                s == "writeLog2(char const*, unsigned char*, int)" ||
                s.rfind("VaroDeviceBase_LM_GM3000::", 0) == 0)
        << s;
  }
  pclose(pipe);
  EXPECT_GT(count, 16);
}

TEST(DriverInterface, BareBaseClassDoesNothing) {
  VaroDeviceBase base;
  unsigned char buffer[8];
  std::memset(buffer, 0xAB, sizeof buffer);
  char text[8];
  std::memset(text, 0xAB, sizeof text);
  int length = 77;
  char id[] = "1";
  EXPECT_EQ(base.ReadCert(2, buffer, &length), 0);
  EXPECT_EQ(base.ReadSealList(buffer, &length), 0);
  EXPECT_EQ(base.ReadSeal(id, buffer, &length), 0);
  EXPECT_EQ(base.WriteSeal(id, id, 1, 1, buffer, 8), 0);
  EXPECT_EQ(base.GenKeyPair(1, buffer, &length), 0);
  EXPECT_EQ(base.WriteCert(1, buffer, 8), 0);
  EXPECT_EQ(base.GetUKID(text), 0);
  EXPECT_EQ(base.CertExists(buffer, 8), 0);
  EXPECT_EQ(base.DeleteSeal(id), 0);
  EXPECT_EQ(base.ChangePin(id, id), -1);
  base.GetErrorMsg(0x1001, text);
  base.GetUKType(text);
  EXPECT_EQ(length, 77);
  for (unsigned char b : buffer) EXPECT_EQ(b, 0xAB);
  for (char c : text) EXPECT_EQ(static_cast<unsigned char>(c), 0xAB);
  EXPECT_EQ(base.Is64BitSystem(), 1);
  EXPECT_EQ(base.Is64Release(), 64);
  EXPECT_EQ(base.GetVaroHome(), QString(varo::kInstallRoot));
}

TEST(DriverInterface, MessagesOfSkfAndDriverCodes) {
  InstalledDriver driver;
  ASSERT_TRUE(driver.ok());
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {0x0A000003, "不支持的服务"},
      {0x0A000005, "无效的句柄"},
      {0x0A00000F, "超时"},
      {0x0A000024, "PIN错误"},
      {0x0A000025, "PIN锁死"},
      {0x0A000031, "文件不存在"},
      {0x0A000032, "已达到最大可管理容器数"},
      {0x0A000001, ""},
      {0x0A000002, ""},
      {0x0A000033, ""},
      {0x1001, "没有发现设备"},
      {0x1004, "设备中无指定类型的证书容器"},
      {0x1009, "设备中无指定索引的印章"},
      {0x1010, "读取指定索引印章时发生错误"},
      {0x1012, "USBKEY中不存在指定的证书"},
      {0x1000, ""},
      {0x100B, ""},
      {0x1013, ""},
      {0x104, ""},
      {0, ""},
      {-1, ""},
  };
  for (const auto& c : cases) {
    char text[64];
    std::memset(text, 0x7F, sizeof text);
    driver->GetErrorMsg(c.code, text);
    EXPECT_STREQ(text, c.text) << std::hex << c.code;
  }
  // Every text fits the 43 bytes callers are told to give.
  VaroDeviceBase_LM_GM3000 local;
  for (unsigned long code = 0x0A000000; code <= 0x0A000040; ++code)
    EXPECT_LE(local.GetSkfError(code).toUtf8().size(), 42) << code;
}

TEST(DriverInterface, DumpWriterWritesTheBytesOrItsPlaceholder) {
  varo::testing::TraceDir trace;
  const std::string path = "/tmp/varolog/driver-dump-test.txt";
  unsigned char data[3] = {'a', 0, 'b'};
  writeLog2(path.c_str(), data, 3);
  EXPECT_EQ(varo::testing::readFile(path), std::string("a\0b", 3));
  writeLog2(path.c_str(), nullptr, 3);
  EXPECT_EQ(varo::testing::readFile(path), std::string("1\0\0\0\0\0\0\0\0\0", 10));
  writeLog2(path.c_str(), data, 0);
  EXPECT_EQ(varo::testing::readFile(path), "");
  ::unlink(path.c_str());
  // No directory, no file.
  writeLog2("/tmp/varolog-absent-dir/x.txt", data, 3);
  EXPECT_NE(::access("/tmp/varolog-absent-dir", F_OK), 0);
}

}  // namespace
