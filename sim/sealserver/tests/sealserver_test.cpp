// varo-sealserver as a child process: its tokens, the fixed replies to
// everything but a known token's seal-list request, and refused tokens.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>

#include "varo/daemon_process.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::ask;
using varo::testing::runToExit;

std::string request(const std::string& tokenId) {
  return "{\"COM\":\"6\",\"TOKENID\":\"" + tokenId + "\"}";
}

TEST(SealServer, AnswersKnownTokensOnlyAndRefusesWhatItCannotServe) {
  varo::testing::TempDir dir("sealserver");
  ASSERT_TRUE(dir.ok());
  std::ofstream(dir.file("seal.der")) << "DER";
  std::ofstream(dir.file("index.txt")) << "seal.der\tS1@U@/M\n";
  std::ofstream(dir.file("tokens.txt")) << "# ids\nFROM-FILE\r\n";
  varo::testing::DaemonProcess server(
      SEALSERVER_PATH, {"--seal-dir", dir.path(), "--port", "0", "--token-id", "T1", "--token-file",
                        dir.file("tokens.txt"), "--log", dir.file("log")});
  ASSERT_TRUE(server.started());

  // [{"SEALID":"S1","SEALNAME":"S1","STANDARD":"1","DLLNAME":"/M","DEVICEURL":"U"}]
  const std::string list =
      "{\"COM\":\"6\",\"DATA\":\"W3siU0VBTElEIjoiUzEiLCJTRUFMTkFNRSI6IlMxIiwiU1RBTkRBUkQiOiIxIiwiRE"
      "xMTkFNRSI6Ii9NIiwiREVWSUNFVVJMIjoiVSJ9XQ==\"}";
  const std::string unknown = "{\"COM\":\"6\",\"DATA\":\"\"}", other = "ERROR: unknown command";
  const std::pair<std::string, std::string> cases[] = {
      {request("T1"), list},
      {request("FROM-FILE"), list},
      {request("T2"), unknown},
      {request("# ids"), unknown},
      {"{\"COM\":\"6\"}", unknown},
      {"{\"COM\":\"1\",\"TOKENID\":\"T1\"}", other},
      {"{\"COM\":6,\"TOKENID\":\"T1\"}", other},
      {request(std::string(5000, 'T')), "ERROR: request too large"},
  };
  for (const auto& [question, answer] : cases) EXPECT_EQ(ask(server.port(), question), answer);

  // The index is read per request; a reply beyond what the client reads is refused.
  std::ofstream index(dir.file("index.txt"));
  for (int i = 0; i < 100; ++i)
    index << "seal.der\tS" << i << "@U@/M\t" << std::string(80, 'n') << "\n";
  index.close();
  EXPECT_EQ(ask(server.port(), request("T1")), "ERROR: seal list too long");
  EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST(SealServer, RefusesTokenFieldsAndOptionsItCannotUse) {
  EXPECT_EQ(runToExit(SEALSERVER_PATH, {"--make-token", "::1", "80", "T1"}), 0);
  const std::vector<std::string> refused[] = {
      {"--make-token", "localhost", "80", "T1"},
      {"--make-token", "127.0.0.1", "0", "T1"},
      {"--make-token", "127.0.0.1", "80", "a|b"},
      {"--make-token", "127.0.0.1", "80"},
      {},
      {"--seal-dir", "/tmp", "--token-id", ""},
      {"--seal-dir", "/tmp", "--bogus", "1"},
  };
  for (const auto& args : refused) EXPECT_EQ(runToExit(SEALSERVER_PATH, args), 2);
  EXPECT_EQ(runToExit(SEALSERVER_PATH, {"--seal-dir", "/tmp", "--address", "no.such"}), 1);
}

}  // namespace
