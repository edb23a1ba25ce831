// Files of an application: creation, sizes, reads past the end, rights.
#include <cstring>

#include "softkey_fixture.h"

namespace softkey_test {
namespace {

using skf::SAR_OK;

class FileTest : public SoftKeyTest {
 protected:
  void SetUp() override {
    SoftKeyTest::SetUp();
    makeKey("K1", false);
    dev_ = connect("K1");
    app_ = openApp(dev_);
  }
  void TearDown() override {
    api_.SKF_DisConnectDev(dev_);
    SoftKeyTest::TearDown();
  }
  ULONG create(const char* name, ULONG size, ULONG read = 0xFF, ULONG write = 0xFF) {
    return api_.SKF_CreateFile(app_, const_cast<char*>(name), size, read, write);
  }
  ULONG write(const char* name, ULONG offset, const std::string& data) {
    return api_.SKF_WriteFile(app_, const_cast<char*>(name), offset,
                              reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())),
                              ULONG(data.size()));
  }
  ULONG read(const char* name, ULONG offset, ULONG size, std::string* out, ULONG room = 4096) {
    std::string buf(room + 16, '\x77');
    ULONG len = room;
    ULONG rc = api_.SKF_ReadFile(app_, const_cast<char*>(name), offset, size,
                                 reinterpret_cast<unsigned char*>(&buf[0]), &len);
    EXPECT_EQ(buf.substr(room), std::string(16, '\x77')) << "written past the buffer";
    if (rc == SAR_OK) *out = buf.substr(0, len);
    return rc;
  }
  skf::DEVHANDLE dev_ = nullptr;
  skf::HAPPLICATION app_ = nullptr;
};

TEST_F(FileTest, ReadsReturnWhatExistsWithinTheFile) {
  ASSERT_EQ(create("SEALINDEX", 20), SAR_OK);
  ASSERT_EQ(write("SEALINDEX", 0, "[]"), SAR_OK);
  ASSERT_EQ(write("SEALINDEX", 10, "0123456789"), SAR_OK);
  const std::string content = std::string("[]") + std::string(8, '\0') + "0123456789";
  struct Case {
    ULONG offset, size;
    std::string expected;
  } cases[] = {
      {0, 20, content},
      {0, 1024, content},  // past the end: what exists
      {8, 4, content.substr(8, 4)},
      {15, 100, "56789"},
      {20, 8, ""},
      {4000000000u, 8, ""},
  };
  for (const auto& c : cases) {
    std::string got;
    ASSERT_EQ(read("SEALINDEX", c.offset, c.size, &got), SAR_OK) << c.offset;
    EXPECT_EQ(got, c.expected) << c.offset << "+" << c.size;
  }
  // Size query and a buffer that is too small.
  ULONG len = 0;
  ASSERT_EQ(api_.SKF_ReadFile(app_, const_cast<char*>("SEALINDEX"), 0, 1024, nullptr, &len),
            SAR_OK);
  EXPECT_EQ(len, 20u);
  std::string got;
  EXPECT_EQ(read("SEALINDEX", 0, 20, &got, 19), skf::SAR_BUFFER_TOO_SMALL);
}

TEST_F(FileTest, FileOperationsAnswerTheStandardCodes) {
  ASSERT_EQ(create("A", 8), SAR_OK);
  std::string got;
  std::string longName(33, 'n');
  struct Case {
    const char* what;
    ULONG rc;
    ULONG expected;
  } cases[] = {
      {"create existing", create("A", 8), skf::SAR_FILE_ALREADY_EXIST},
      {"create long name", create(longName.c_str(), 8), skf::SAR_NAMELENERR},
      {"create empty name", create("", 8), skf::SAR_NAMELENERR},
      {"create beyond the space", create("Huge", 0xFFFFFFF0u), skf::SAR_NO_ROOM},
      {"read missing", read("Missing", 0, 8, &got), skf::SAR_FILE_NOT_EXIST},
      {"write missing", write("Missing", 0, "x"), skf::SAR_FILE_NOT_EXIST},
      {"delete missing", api_.SKF_DeleteFile(app_, const_cast<char*>("Missing")),
       skf::SAR_FILE_NOT_EXIST},
      {"write past the size", write("A", 4, "12345"), skf::SAR_INDATALENERR},
      {"write at a huge offset", write("A", 0xFFFFFFFFu, "1"), skf::SAR_INDATALENERR},
      {"write that fits", write("A", 4, "1234"), SAR_OK},
      {"null name", api_.SKF_DeleteFile(app_, nullptr), skf::SAR_INVALIDPARAMERR},
  };
  for (const auto& c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;
  ASSERT_EQ(read("A", 0, 8, &got), SAR_OK);
  EXPECT_EQ(got, std::string(4, '\0') + "1234") << "a refused write changes nothing";
}

TEST_F(FileTest, ListingFollowsCreationAndDeletion) {
  char buf[64];
  ULONG size = sizeof buf;
  ASSERT_EQ(api_.SKF_EnumFiles(app_, buf, &size), SAR_OK);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buf[0], '\0');
  for (const char* n : {"SEALINDEX", "0930152500", "PIC1"}) ASSERT_EQ(create(n, 4), SAR_OK);
  ASSERT_EQ(api_.SKF_DeleteFile(app_, const_cast<char*>("0930152500")), SAR_OK);
  size = 0;
  ASSERT_EQ(api_.SKF_EnumFiles(app_, nullptr, &size), SAR_OK);
  EXPECT_EQ(size, std::string("SEALINDEX\0PIC1\0\0", 16).size());
  ULONG shortSize = size - 1;
  EXPECT_EQ(api_.SKF_EnumFiles(app_, buf, &shortSize), skf::SAR_BUFFER_TOO_SMALL);
  size = sizeof buf;
  ASSERT_EQ(api_.SKF_EnumFiles(app_, buf, &size), SAR_OK);
  EXPECT_EQ(splitNames(buf, size), (std::vector<std::string>{"SEALINDEX", "PIC1"}));
  // A deleted file can be created again, empty.
  ASSERT_EQ(create("0930152500", 4), SAR_OK);
  std::string got;
  ASSERT_EQ(read("0930152500", 0, 4, &got), SAR_OK);
  EXPECT_EQ(got, std::string(4, '\0'));
}

TEST_F(FileTest, RightsAskForTheMatchingLogin) {
  ASSERT_EQ(create("UserOnly", 4, skf::SECURE_USER_ACCOUNT, skf::SECURE_USER_ACCOUNT), SAR_OK);
  ASSERT_EQ(create("Never", 4, skf::SECURE_NEVER_ACCOUNT, skf::SECURE_NEVER_ACCOUNT), SAR_OK);
  std::string got;
  EXPECT_EQ(read("UserOnly", 0, 4, &got), skf::SAR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(write("UserOnly", 0, "x"), skf::SAR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(verifyUserPin(app_, varo::softkey::kDefaultUserPin), SAR_OK);
  EXPECT_EQ(write("UserOnly", 0, "x"), SAR_OK);
  EXPECT_EQ(read("UserOnly", 0, 4, &got), SAR_OK);
  EXPECT_NE(read("Never", 0, 4, &got), SAR_OK);
  skf::FILEATTRIBUTE info;
  ASSERT_EQ(ext_.GetFileInfo(app_, const_cast<char*>("UserOnly"), &info), SAR_OK);
  EXPECT_STREQ(info.FileName, "UserOnly");
  EXPECT_EQ(info.FileSize, 4u);
  EXPECT_EQ(info.ReadRights, skf::SECURE_USER_ACCOUNT);
}

TEST_F(FileTest, ProvisionedFilesAndTheOldThreeFileFormReadBack) {
  varo::softkey::Bytes seal(1000);
  for (size_t i = 0; i < seal.size(); ++i) seal[i] = uint8_t(i * 7);
  struct Case {
    long first, second;
    ULONG sizes[3];
  } cases[] = {{-1, -1, {334, 333, 333}}, {1000, 0, {1000, 0, 0}}, {1, 998, {1, 998, 1}}};
  for (const auto& c : cases) {
    ASSERT_TRUE(admin().writeThreeFileForm("K1", seal, "", c.first, c.second));
    std::string joined;
    for (int i = 0; i < 3; ++i) {
      std::string name = "PIC" + std::to_string(i + 1), header, payload;
      ASSERT_EQ(read(name.c_str(), 0, 8, &header), SAR_OK);
      ASSERT_EQ(header.size(), 8u);
      uint32_t n = 0;
      std::memcpy(&n, header.data(), 4);
      EXPECT_EQ(n, c.sizes[i]) << name;
      EXPECT_EQ(header.substr(4), std::string(4, '\0'));
      ASSERT_EQ(read(name.c_str(), 8, n, &payload, 307200), SAR_OK);
      joined += payload;
    }
    EXPECT_EQ(joined, std::string(seal.begin(), seal.end()));
  }
}

}  // namespace
}  // namespace softkey_test
