// DoIt of the online seal-list plug-in against the installed tool library:
// a scripted server answers the reply cases and records the requests; the
// installed varo-sealserver and oes-reader run the whole road. The client
// log goes to a temporary directory (TMPDIR), never to the shared one.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "VaroGetSealListOnLine.h"
#include "varo/tmp_files.h"
#include "varo/daemon_process.h"
#include "varo/fake_service.h"
#include "varo/install_root.h"

namespace {

using varo::testing::FakeReply;

const std::string kNoToolLibrary = "ERROR:加载工具库失败", kWrongToken = "ERROR:错误的口令数据",
                  kNoList = "ERROR:未能查询到可用列表", kWrongCommand = "ERROR:错误的返回值1",
                  kNoData = "ERROR:错误的返回值2";
const std::string kList = "[{\"SEALID\":\"S1\",\"SEALNAME\":\"甲\",\"STANDARD\":\"1\"}]";

std::string base64(const std::string& s) {
  return QByteArray(s.data(), int(s.size())).toBase64().toStdString();
}
std::string tokenFor(int port, const std::string& id = "TOKEN-1") {
  return base64("127.0.0.1|" + std::to_string(port) + "|" + id + "|f4");
}
// A seal-list reply with the DATA text as given.
std::string listReply(const std::string& data) {
  return "{\"COM\":\"6\",\"DATA\":\"" + data + "\"}";
}

// DoIt's answer; fails the test when anything past its terminator was written.
std::string doIt(std::string token, const char* ip = nullptr, const char* mac = nullptr) {
  std::vector<char> out(32768, 'X');
  DoIt(token.data(), ip, mac, out.data());
  const auto end = std::find(out.begin(), out.end(), '\0');
  EXPECT_TRUE(end != out.end() && std::all_of(end + 1, out.end(), [](char c) { return c == 'X'; }));
  return std::string(out.begin(), end);
}

class OnlineList : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    setenv("TMPDIR", temp_.path().toLocal8Bit().constData(), 1);
    ASSERT_TRUE(server_.start(0));
  }
  void TearDown() override { unsetenv("TMPDIR"); }
  std::string dir() const { return temp_.path().toStdString(); }

  QTemporaryDir temp_;
  varo::testing::FakeService server_;
};

TEST_F(OnlineList, SendsTheTokenIdWithTheAddressesThatAreGiven) {
  server_.setDefault(FakeReply::of(listReply(base64(kList))));
  const std::string bare = "{\"COM\":\"6\",\"TOKENID\":\"TOKEN-1\"";
  const struct {
    const char *ip, *mac;
    std::string request;
  } cases[] = {
      {nullptr, nullptr, bare + "}"},
      {"", "", bare + "}"},
      {"10.0.0.7", "", bare + ",\"IP\":\"10.0.0.7\"}"},
      {nullptr, "00-1A-2B", bare + ",\"MAC\":\"00-1A-2B\"}"},
      {"10.0.0.7", "00-1A-2B", bare + ",\"IP\":\"10.0.0.7\",\"MAC\":\"00-1A-2B\"}"},
  };
  for (const auto& c : cases) {
    server_.clearRequests();
    EXPECT_EQ(doIt(tokenFor(server_.port()), c.ip, c.mac), kList);
    EXPECT_EQ(server_.requests(), std::vector<std::string>{c.request});
  }
}

TEST_F(OnlineList, AnswersTheDecodedListOrTheTextForABadReply) {
  const std::string good = base64(kList);
  const struct {
    const char* what;
    FakeReply reply;
    std::string expected;
  } cases[] = {
      {"the list", FakeReply::of(listReply(good)), kList},
      {"a line break and a space inside",
       FakeReply::of(
           listReply(good.substr(0, 8) + "\\n" + good.substr(8, 12) + " " + good.substr(20))),
       kList},
      {"a zero byte cuts the list", FakeReply::of(listReply(base64(std::string("[1]\0[2]", 7)))),
       "[1]"},
      {"COM 7", FakeReply::of("{\"COM\":\"7\",\"DATA\":\"" + good + "\"}"), kWrongCommand},
      {"COM as a number", FakeReply::of("{\"COM\":6,\"DATA\":\"" + good + "\"}"), kWrongCommand},
      {"not JSON", FakeReply::of("ERROR: busy"), kWrongCommand},
      {"not an object", FakeReply::of("[" + listReply(good) + "]"), kWrongCommand},
      {"cut at the reply buffer", FakeReply::of(listReply(std::string(12000, 'A'))), kWrongCommand},
      {"DATA empty", FakeReply::of(listReply("")), kNoData},
      {"DATA missing", FakeReply::of("{\"COM\":\"6\"}"), kNoData},
      {"DATA not Base64", FakeReply::of(listReply("!!!*")), kNoData},
      {"DATA starts with a zero byte", FakeReply::of(listReply(base64(std::string("\0[]", 3)))),
       kNoData},
      {"closed without a reply", FakeReply::closeAtOnce(), kNoList},
  };
  for (const auto& c : cases) {
    server_.setDefault(c.reply);
    EXPECT_EQ(doIt(tokenFor(server_.port())), c.expected) << c.what;
  }
}

TEST_F(OnlineList, RefusesBadTokensAndReportsNoServerOrToolLibrary) {
  const std::string refused[] = {
      "",
      "not a token!",
      base64("127.0.0.1|9|TOKEN-1"),                          // three fields
      base64("localhost|9|TOKEN-1|f4"),                       // a host name
      base64("127.0.0.1|9|" + std::string(64, 'i') + "|f4"),  // an id beyond its buffer
      std::string(4000, 'A'),
  };
  for (const std::string& token : refused) EXPECT_EQ(doIt(token), kWrongToken) << token;

  const int port = server_.port();
  server_.stop();  // nobody listens there now
  EXPECT_EQ(doIt(tokenFor(port)), kNoList);

  char untouched[4] = "abc";
  std::string token = tokenFor(port);
  DoIt(nullptr, "10.0.0.7", nullptr, untouched);
  DoIt(token.data(), nullptr, nullptr, nullptr);
  EXPECT_STREQ(untouched, "abc");

  varo::testing::MovedAside aside(varo::kToolLibraryPath);
  ASSERT_TRUE(aside.moved());
  EXPECT_EQ(doIt(token), kNoToolLibrary);
}

TEST_F(OnlineList, LogsEveryStepWhenTheLogDirectoryExists) {
  const std::string answer = listReply(base64(kList)), token = tokenFor(server_.port());
  server_.setDefault(FakeReply::of(answer));
  EXPECT_EQ(doIt(token), kList);
  ASSERT_EQ(mkdir((dir() + "/varolog").c_str(), 0700), 0);  // not made by the first call

  EXPECT_EQ(doIt(token, "10.0.0.7", "M1"), kList);
  EXPECT_EQ(doIt("bad"), kWrongToken);
  {
    varo::testing::MovedAside aside(varo::kToolLibraryPath);
    EXPECT_EQ(doIt(token), kNoToolLibrary);
  }
  const std::string tag = "VaroGetSealListOnLine";
  const std::vector<std::string> expected = {
      "In " + tag,
      tag + " TOKEN:" + token,
      tag + ":解析TOKEN成功",
      tag + " Send Com:{\"COM\":\"6\",\"TOKENID\":\"TOKEN-1\",\"IP\":\"10.0.0.7\",\"MAC\":\"M1\"}",
      "服务器信息：127.0.0.1:" + std::to_string(server_.port()),
      tag + " Receive:" + answer,
      "In " + tag,
      tag + " TOKEN:bad",
      tag + ":无法解析的TOKEN数据",
      "In " + tag,
      tag + " TOKEN:" + token,
      tag + ":加载工具库失败",
  };
  EXPECT_EQ(varo::testing::clientLogMessages(dir() + "/varolog/clientlog.txt"), expected);
}

// The standard output of an installed program run to its end.
std::string run(const QString& program, const QStringList& args, int* status) {
  QProcess p;
  p.start(QString(varo::kInstallRoot) + "/bin/" + program, args);
  EXPECT_TRUE(p.waitForFinished(30000));
  *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return p.readAllStandardOutput().toStdString();
}

TEST_F(OnlineList, FetchesTheSealsOfTheSealServerForItsTokens) {
  std::ofstream(dir() + "/seal.der") << "DER";
  std::ofstream(dir() + "/index.txt") << "seal.der\tS1@LM_GM3000&K1@/VaroSupport/TokenSign_LM\t甲\n"
                                         "seal.der\tS2@LM_GM3000&K2@/M\tB\t4\n";
  varo::testing::DaemonProcess sealServer(
      std::string(varo::kInstallRoot) + "/bin/varo-sealserver",
      {"--seal-dir", dir(), "--port", "0", "--token-id", "TOKEN-1", "--log", dir() + "/log"});
  ASSERT_TRUE(sealServer.started());
  int status = -1;
  auto makeToken = [&](const char* id) {
    const QStringList args = {"--make-token", "127.0.0.1", QString::number(sealServer.port()), id};
    const std::string token = run("varo-sealserver", args, &status);
    EXPECT_EQ(status, 0);
    return token.substr(0, token.find('\n'));
  };
  const std::string token = makeToken("TOKEN-1");
  EXPECT_EQ(doIt(token, "10.0.0.7", "M1"),
            "[{\"SEALID\":\"S1\",\"SEALNAME\":\"甲\",\"STANDARD\":\"1\",\"DLLNAME\":\"/VaroSupport/"
            "TokenSign_LM\",\"DEVICEURL\":\"LM_GM3000&K1\"},{\"SEALID\":\"S2\",\"SEALNAME\":\"B\","
            "\"STANDARD\":\"4\",\"DLLNAME\":\"/M\",\"DEVICEURL\":\"LM_GM3000&K2\"}]");
  EXPECT_EQ(doIt(makeToken("TOKEN-2")), kNoData);  // a token the server does not know

  EXPECT_EQ(run("oes-reader", {"online-seals", QString::fromStdString(token)}, &status),
            "seal 1: S1\t甲\t1\t/VaroSupport/TokenSign_LM\tLM_GM3000&K1\n"
            "seal 2: S2\tB\t4\t/M\tLM_GM3000&K2\ncount: 2\n");
  EXPECT_EQ(status, 0);
  run("oes-reader", {"online-seals", "bad"}, &status);
  EXPECT_EQ(status, 1);

  EXPECT_EQ(sealServer.stop(SIGTERM), 0);
}

}  // namespace
