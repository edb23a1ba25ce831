// varo-signd as a process: every command, the request bound, the PIN
// answers and a clean stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <cstdio>
#include <fstream>

#include "varo/daemon_process.h"
#include "varo/port_check.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::ask;
using varo::testing::DaemonProcess;
using varo::testing::fileExists;
using varo::testing::readFile;
using varo::testing::runToExit;

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A seal of the test codec.
std::string testSeal(int32_t width, int32_t height, const std::string& picture) {
  std::string seal = "SEAL";
  for (int32_t v : {width, height})
    for (int i = 0; i < 4; ++i) seal.push_back(static_cast<char>((uint32_t(v) >> (8 * i)) & 0xff));
  return seal + picture;
}

class SigndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/signd-test.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    for (const char* name : {"index.txt", "a.der", "b.der", "log", "policy", "pin"})
      files_.track(dir_ + "/" + name);
    const std::string tag = "h4t" + std::to_string(::getpid());
    idA_ = tag + "A";
    idB_ = tag + "B";
    sealA_ = testSeal(120, 80, std::string("\x89PNG\r\n\x1a\n-a", 10));
    sealB_ = testSeal(7, 5, std::string(300, 'b'));
    using varo::testing::pictureDigestText;
    for (const std::string& path :
         {std::string("/tmp/varo.list"), "/tmp/" + idA_ + ".seal", "/tmp/" + idB_ + ".seal",
          "/tmp/" + pictureDigestText(varo::ByteSpan(sealA_)) + ".pic",
          "/tmp/" + pictureDigestText(varo::ByteSpan(sealB_)) + ".pic"})
      files_.track(path);
    writeText(dir_ + "/a.der", sealA_);
    writeText(dir_ + "/b.der", sealB_);
    writeText(dir_ + "/index.txt",
              "# seals of the test\n"
              "a.der\t" +
                  idA_ +
                  "@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM\tSeal A\t1\n"
                  "\n"
                  "b.der\t" +
                  idB_ +
                  "@LM_GM3000@/VaroSupport/TokenSign_LM\r\n"
                  "a.der\t..@LM_GM3000@/VaroSupport/TokenSign_LM\n"
                  "a.der\tx/y@LM_GM3000@/VaroSupport/TokenSign_LM\n"
                  "a.der\tonly@two\n"
                  "missing.der\tgone@LM_GM3000@/VaroSupport/TokenSign_LM\n"
                  "../a.der\tup@LM_GM3000@/VaroSupport/TokenSign_LM\n");
  }

  void TearDown() override {
    daemon_.reset();
    files_.removeAll();
    ::rmdir(dir_.c_str());
  }

  std::vector<std::string> args() const {
    return {"--seal-dir", dir_,          "--port",   "0",
            "--log",      dir_ + "/log", "--policy", dir_ + "/policy",
            "--pin-file", dir_ + "/pin", "--codec",  TEST_CODEC_PATH};
  }
  void start(std::vector<std::string> a = {}) {
    daemon_ = std::make_unique<DaemonProcess>(SIGND_PATH, a.empty() ? args() : a);
    ASSERT_TRUE(daemon_->started());
  }
  std::string request(const std::string& text) {
    return ask(daemon_->port(), text).value_or("<no connection>");
  }
  std::string log() const { return readFile(dir_ + "/log"); }

  std::string dir_, idA_, idB_, sealA_, sealB_;
  varo::testing::TmpFiles files_;
  std::unique_ptr<DaemonProcess> daemon_;
};

TEST_F(SigndTest, SealListHoldsTheIndexedSealsWithFullIds) {
  start();
  const std::string reply = request("{\"COM\":\"1\",\"DOCTYPE\":\"VAROOFD\",\"RANDOM\":\"3\"}");
  EXPECT_NE(reply.find("SEALLIST"), std::string::npos) << reply;
  EXPECT_EQ(readFile("/tmp/varo.list"),
            "[{\"SEALID\":\"" + idA_ +
                "@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM\",\"SEALNAME\":\"Seal A\","
                "\"STANDARD\":\"1\",\"DLLNAME\":\"/VaroSupport/TokenSign_LM\","
                "\"DEVICEURL\":\"LM_GM3000&KEY01\"},"
                "{\"SEALID\":\"" +
                idB_ + "@LM_GM3000@/VaroSupport/TokenSign_LM\",\"SEALNAME\":\"" + idB_ +
                "\",\"STANDARD\":\"1\",\"DLLNAME\":\"/VaroSupport/TokenSign_LM\","
                "\"DEVICEURL\":\"LM_GM3000\"}]");
  // Each refused index line is named in the log.
  for (const char* line : {"line 5 ", "line 6 ", "line 7 ", "line 8 ", "line 9 "})
    EXPECT_NE(log().find(std::string("index ") + line), std::string::npos) << line;
}

TEST_F(SigndTest, SealAndPictureFilesAreWrittenForEverySeal) {
  start();
  EXPECT_NE(request("{\"COM\":\"12\"}"), "");
  EXPECT_EQ(readFile("/tmp/" + idA_ + ".seal"), sealA_);
  EXPECT_EQ(readFile("/tmp/" + idB_ + ".seal"), sealB_);
  // Nothing is written for the refused identifiers.
  EXPECT_FALSE(fileExists("/tmp/x/y.seal"));
  EXPECT_FALSE(fileExists("/tmp/...seal"));

  EXPECT_NE(request("{\"COM\":\"13\"}"), "");
  using varo::testing::pictureDigestText;
  using varo::testing::pictureRecord;
  EXPECT_EQ(readFile("/tmp/" + pictureDigestText(varo::ByteSpan(sealA_)) + ".pic"),
            pictureRecord(120, 80, sealA_.substr(12)));
  EXPECT_EQ(readFile("/tmp/" + pictureDigestText(varo::ByteSpan(sealB_)) + ".pic"),
            pictureRecord(7, 5, sealB_.substr(12)));
}

TEST_F(SigndTest, FailuresAreReportedAsErrorReplies) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string request;
  } cases[] = {
      {"seal list without an index",
       {"--seal-dir", dir_ + "/none", "--port", "0"},
       "{\"COM\":\"1\",\"DOCTYPE\":\"VAROOFD\",\"RANDOM\":\"3\"}"},
      {"seal files without an index",
       {"--seal-dir", dir_ + "/none", "--port", "0"},
       "{\"COM\":\"12\"}"},
      {"pictures without a codec",
       {"--seal-dir", dir_, "--port", "0", "--codec", dir_ + "/no-codec.so"},
       "{\"COM\":\"13\"}"},
  };
  for (const auto& c : cases) {
    DaemonProcess daemon(SIGND_PATH, c.args);
    ASSERT_TRUE(daemon.started()) << c.what;
    const std::string reply = ask(daemon.port(), c.request).value_or("");
    EXPECT_EQ(reply.rfind("ERROR: ", 0), 0u) << c.what << ": " << reply;
    EXPECT_EQ(reply.find("SEALLIST"), std::string::npos) << c.what;
  }
}

TEST_F(SigndTest, SealStandingFollowsThePolicyFileReadPerQuery) {
  start();
  const std::string cert = "MIIB" + std::string(60, 'A') + "\nAAAA";
  auto com3 = [&](const std::string& sealId, bool withCert) {
    std::string r = "{\"COM\":\"3\",\"SEALID\":\"" + sealId + "\"";
    if (withCert) r += ",\"TIME\":\"250101120000Z\",\"CERT\":\"" + cert + "\"";
    return request(r + "}");
  };
  const std::string full = idA_ + "@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM";
  EXPECT_EQ(com3(full, false), "{\"ERR\":\"ERR_NOERR\"}");  // no policy file yet

  writeText(dir_ + "/policy", idA_ + "\tERR_OUTTIME\n*\tERR_NEEDLOCALVERIFY\n");
  struct Case {
    std::string sealId;
    bool withCert;
    std::string expected;
  } cases[] = {
      {full, false, "{\"ERR\":\"ERR_OUTTIME\"}"},
      {idA_, true, "{\"ERR\":\"ERR_OUTTIME\"}"},
      {idB_ + "@X@Y", false, "{\"ERR\":\"ERR_NEEDLOCALVERIFY\"}"},
      {"", true, "{\"ERR\":\"ERR_NEEDLOCALVERIFY\"}"},
  };
  for (const auto& c : cases) EXPECT_EQ(com3(c.sealId, c.withCert), c.expected) << c.sealId;

  writeText(dir_ + "/policy", idA_ + "\tERR_ISSUER_MAKER\n");
  EXPECT_EQ(com3(full, true), "{\"ERR\":\"ERR_ISSUER_MAKER\"}");
  EXPECT_EQ(com3(idB_, true), "{\"ERR\":\"ERR_NOERR\"}");
}

TEST_F(SigndTest, OnlineStateReportAndUnknownRequests) {
  start();
  const std::string online = request("{\"COM\":\"0\"}");
  EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(online)).isObject()) << online;

  const std::string report =
      "{\"COM\":\"4\",\"DOCTYPE\":\"VAROOFD\",\"SIGNRESULT\":\"1\",\"ERROR\":\" \",\"SEALID\":\"" +
      idA_ + "\"}";
  EXPECT_EQ(request(report), "");
  // A reporter that closes right after sending, as the provider does.
  int before = 0;
  for (size_t p = 0; (p = log().find("COM 4 report: " + report, p)) != std::string::npos; ++p)
    ++before;
  EXPECT_EQ(before, 1);

  for (const char* unknown : {"hello", "{\"COM\":\"7\"}", "{\"NOCOM\":\"1\"}", "InputPINDlgX"})
    EXPECT_EQ(request(unknown), "ERROR: unknown command") << unknown;

  // A request arriving in pieces is put together.
  EXPECT_EQ(ask(daemon_->port(), {"{\"COM\":", "\"0\"}"}, 100).value_or(""), online);
}

TEST_F(SigndTest, OversizedRequestIsRefusedAndServiceGoesOn) {
  start();
  const std::string big = "{\"COM\":\"3\",\"SEALID\":\"" + std::string(70 * 1024, 'x') + "\"}";
  EXPECT_EQ(request(big), "ERROR: request too large");
  EXPECT_EQ(request("{\"COM\":\"3\",\"SEALID\":\"S\"}"), "{\"ERR\":\"ERR_NOERR\"}");
  // Just under the bound is still served.
  const std::string fits = "{\"COM\":\"3\",\"SEALID\":\"" + std::string(60 * 1024, 'x') + "\"}";
  EXPECT_EQ(request(fits), "{\"ERR\":\"ERR_NOERR\"}");
}

TEST_F(SigndTest, PinAnswersComeFromThePinFileAndNeverReachTheLog) {
  start();
  struct Case {
    const char* what;
    std::optional<std::string> file;  // nullopt: no file
    std::string expected;
  } cases[] = {
      {"pin", std::string("7391-secret\n"), "{\"PIN\":\"7391-secret\"}"},
      {"pin with CRLF", std::string("7391-secret\r\nnext line"), "{\"PIN\":\"7391-secret\"}"},
      {"49 characters", std::string(49, 'p'), "{\"PIN\":\"" + std::string(49, 'p') + "\"}"},
      {"50 characters", std::string(50, 'p'), "{}"},
      {"quote inside", std::string("ab\"}cd"), "{}"},
      {"empty line", std::string("\n"), "{\"RESULT\":\"USERCANCELED\"}"},
      {"empty file", std::string(""), "{\"RESULT\":\"USERCANCELED\"}"},
      {"no file", std::nullopt, "{\"RESULT\":\"USERCANCELED\"}"},
  };
  for (const auto& c : cases) {
    ::unlink((dir_ + "/pin").c_str());
    if (c.file) writeText(dir_ + "/pin", *c.file);
    EXPECT_EQ(request("InputPINDlg"), c.expected) << c.what;
  }
  EXPECT_EQ(log().find("7391-secret"), std::string::npos);
  EXPECT_EQ(log().find(std::string(49, 'p')), std::string::npos);
}

TEST_F(SigndTest, WithoutPinFileOrTerminalThePinDialogIsCancelled) {
  // The test starts the service in a session of its own: it has no terminal.
  start({"--seal-dir", dir_, "--port", "0", "--log", dir_ + "/log"});
  EXPECT_EQ(request("InputPINDlg"), "{\"RESULT\":\"USERCANCELED\"}");
}

TEST_F(SigndTest, StopSignalsEndTheServiceCleanly) {
  for (int sig : {SIGTERM, SIGINT}) {
    start();
    const int port = daemon_->port();
    EXPECT_EQ(daemon_->stop(sig, 2000), std::optional<int>(0)) << sig;
    EXPECT_FALSE(ask(port, "{\"COM\":\"0\"}").has_value());
    EXPECT_NE(log().find("stopped"), std::string::npos);
  }
}

TEST_F(SigndTest, DefaultPortIs9990AndBadOptionsAreRefused) {
  ASSERT_TRUE(varo::testing::servicePortFree());
  start({"--seal-dir", dir_, "--log", dir_ + "/log"});
  EXPECT_EQ(daemon_->port(), 9990);
  EXPECT_EQ(ask(9990, "{\"COM\":\"3\",\"SEALID\":\"S\"}").value_or(""), "{\"ERR\":\"ERR_NOERR\"}");
  daemon_.reset();

  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--help"}, 0},
      {{"--seal-dir", ""}, 2},
      {{"--seal-dir"}, 2},
      {{"--seal-dir", dir_, "--port", "70000"}, 2},
      {{"--seal-dir", dir_, "--port", "12x"}, 2},
      {{"--seal-dir", dir_, "--bogus", "1"}, 2},
      {{"--seal-dir", dir_, "--log", dir_ + "/no/such/dir/log"}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(runToExit(SIGND_PATH, c.args), c.status) << c.args.size();
}

}  // namespace
