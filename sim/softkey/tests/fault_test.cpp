// Fault rules of the store: which calls they fail, how often, across processes.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "softkey_fixture.h"

namespace softkey_test {
namespace {

using skf::SAR_OK;

class FaultTest : public SoftKeyTest {
 protected:
  void SetUp() override {
    SoftKeyTest::SetUp();
    makeKey("K1");
    makeKey("K2", false);
    ASSERT_TRUE(admin().putFile("K1", "SEALINDEX", varo::softkey::Bytes(16, 'x')));
    ASSERT_TRUE(admin().putFile("K1", "Other", varo::softkey::Bytes(16, 'y')));
    dev_ = connect("K1");
    app_ = openApp(dev_);
    con_ = openContainer(app_);
    calls_ = {
        {"enum",
         [this] {
           ULONG n = 0;
           return api_.SKF_EnumDev(1, nullptr, &n);
         }},
        {"connect K2",
         [this] {
           skf::DEVHANDLE d = nullptr;
           ULONG rc = api_.SKF_ConnectDev(const_cast<char*>("K2"), &d);
           if (rc == SAR_OK) api_.SKF_DisConnectDev(d);
           return rc;
         }},
        {"read index", [this] { return readFile("SEALINDEX"); }},
        {"read other", [this] { return readFile("Other"); }},
        {"verify", [this] { return verifyUserPin(app_, varo::softkey::kDefaultUserPin); }},
        {"sign",
         [this] {
           unsigned char e[32] = {1};
           skf::ECCSIGNATUREBLOB sig;
           return api_.SKF_ECCSignData(con_, e, 32, &sig);
         }},
    };
  }
  void TearDown() override {
    api_.SKF_DisConnectDev(dev_);
    SoftKeyTest::TearDown();
  }
  ULONG readFile(const char* name) {
    unsigned char buf[16];
    ULONG len = sizeof buf;
    return api_.SKF_ReadFile(app_, const_cast<char*>(name), 0, 16, buf, &len);
  }
  skf::DEVHANDLE dev_ = nullptr;
  skf::HAPPLICATION app_ = nullptr;
  skf::HCONTAINER con_ = nullptr;
  std::map<std::string, std::function<ULONG()>> calls_;
};

TEST_F(FaultTest, EachRuleFailsTheCallsItNames) {
  constexpr ULONG kMissing = skf::SAR_FILE_NOT_EXIST, kFail = skf::SAR_FAIL;
  struct Case {
    const char* what;
    varo::softkey::FaultSpec rule;
    std::vector<std::pair<std::string, ULONG>> calls;  // in order, with the expected code
  } cases[] = {
      {"function and file name",
       {"SKF_ReadFile", kMissing, "SEALINDEX", -1, 0},
       {{"read other", SAR_OK}, {"read index", kMissing}, {"read index", kMissing}}},
      {"count",
       {"SKF_ReadFile", kFail, "", 2, 0},
       {{"read other", kFail}, {"read index", kFail}, {"read index", SAR_OK}}},
      {"skip then count",
       {"SKF_ReadFile", kFail, "SEALINDEX", 1, 2},
       {{"read index", SAR_OK},
        {"read other", SAR_OK},
        {"read index", SAR_OK},
        {"read index", kFail},
        {"read index", SAR_OK}}},
      {"any function of one device",
       {"*", skf::SAR_DEVICE_REMOVED, "K2", -1, 0},
       {{"connect K2", skf::SAR_DEVICE_REMOVED}, {"read index", SAR_OK}}},
      {"device list", {"SKF_EnumDev", kFail, "", 1, 0}, {{"enum", kFail}, {"enum", SAR_OK}}},
      {"PIN and signature",
       {"SKF_ECCSignData", skf::SAR_USER_NOT_LOGGED_IN, "Sign", -1, 0},
       {{"verify", SAR_OK}, {"sign", skf::SAR_USER_NOT_LOGGED_IN}}},
      {"verify fails, so does the signature",
       {"SKF_VerifyPIN", skf::SAR_PIN_INCORRECT, "", 1, 0},
       {{"verify", skf::SAR_PIN_INCORRECT}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(admin().addFault(c.rule));
    for (const auto& [call, expected] : c.calls) EXPECT_EQ(calls_.at(call)(), expected) << call;
    ASSERT_TRUE(admin().clearFaults());
  }
  // Once its count is used up the rule is gone from the file.
  ASSERT_TRUE(admin().addFault({"SKF_EnumDev", kFail, "", 1, 0}));
  EXPECT_EQ(admin().listFaults().size(), 1u);
  EXPECT_EQ(calls_.at("enum")(), kFail);
  EXPECT_TRUE(admin().listFaults().empty());
}

TEST_F(FaultTest, CountsAreSharedBetweenProcesses) {
  ASSERT_TRUE(admin().addFault({"SKF_ReadFile", skf::SAR_FAIL, "SEALINDEX", 3, 0}));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child uses up two of the three failures.
    bool ok = readFile("SEALINDEX") == skf::SAR_FAIL && readFile("SEALINDEX") == skf::SAR_FAIL;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(admin().listFaults(),
            std::vector<std::string>{"SKF_ReadFile 0x0A000001 name=SEALINDEX count=1"});
  EXPECT_EQ(readFile("SEALINDEX"), skf::SAR_FAIL);
  EXPECT_EQ(readFile("SEALINDEX"), SAR_OK);
}

TEST_F(FaultTest, MalformedRulesAreIgnoredAndKept) {
  ASSERT_TRUE(admin().addFault({"SKF_ReadFile", skf::SAR_FAIL, "Other", 1, 0}));
  {
    FILE* f = std::fopen((store_ + "/faults").c_str(), "a");
    ASSERT_NE(f, nullptr);
    std::fputs(
        "# a comment\nSKF_ReadFile\nSKF_ReadFile 0\nSKF_ReadFile nonsense\n"
        "SKF_ReadFile 0x0A000001 count=-1\nSKF_ReadFile 0x0A000001 colour=red\n",
        f);
    std::fclose(f);
  }
  EXPECT_EQ(readFile("SEALINDEX"), SAR_OK);
  EXPECT_EQ(readFile("Other"), skf::SAR_FAIL);
  EXPECT_EQ(readFile("Other"), SAR_OK);
  std::string text;
  FILE* f = std::fopen((store_ + "/faults").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[256];
  while (std::fgets(line, sizeof line, f)) text += line;
  std::fclose(f);
  EXPECT_EQ(text,
            "# a comment\nSKF_ReadFile\nSKF_ReadFile 0\nSKF_ReadFile nonsense\n"
            "SKF_ReadFile 0x0A000001 count=-1\nSKF_ReadFile 0x0A000001 colour=red\n");
}

}  // namespace
}  // namespace softkey_test
