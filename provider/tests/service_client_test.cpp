// The local service client against a scripted service on the real port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "service_client.h"
#include "varo/fake_service.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::FakeReply;
using varo::testing::FakeService;

class ServiceClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service.start()); }
  FakeService service;
};

TEST(ServiceClientDown, NothingListeningIsANoConnectionAndAnEmptySealState) {
  char reply[64] = "untouched";
  EXPECT_EQ(SendAndRecv(const_cast<char*>("{\"COM\":\"0\"}"), reply), 3);
  EXPECT_STREQ(reply, "untouched");
  char id[] = "S1";
  EXPECT_EQ(VerifySealById(id), 0);
}

TEST_F(ServiceClient, ReplyIsHandedOnFromErrorOrBraceAndCutAtTheCallersBuffer) {
  struct Case {
    const char* name;
    FakeReply reply;
    size_t capacity;
    int expectedRc;
    std::string expected;  // the reply buffer afterwards
  };
  const std::string longReply = "{" + std::string(3000, 'a') + "}";
  const std::string hugeReply = "{" + std::string(600000, 'b');
  const Case cases[] = {
      {"garbage before the brace", FakeReply::of("garbage{\"SEALLIST\":1}"), 1024, 0,
       "{\"SEALLIST\":1}"},
      {"error before a brace", FakeReply::of("x ERROR: busy {...}"), 1024, 0, "ERROR: busy {...}"},
      {"error after a brace", FakeReply::of("{\"a\":1} ERROR: late"), 1024, 0, "ERROR: late"},
      {"neither", FakeReply::of("no json here"), 1024, 4399, "untouched"},
      {"nothing sent", FakeReply::of(""), 1024, 4399, "untouched"},
      {"closed at once", FakeReply::closeAtOnce(), 1024, 4399, "untouched"},
      {"silent for a while", FakeReply::silent(150), 1024, 4399, "untouched"},
      {"zero byte ends the text", FakeReply::of(std::string("{\"a\"\0}{x", 8)), 1024, 0, "{\"a\""},
      {"longer than the buffer", FakeReply::of(longReply), 1024, 0, longReply.substr(0, 1023)},
      {"longer than the working buffer", FakeReply::of(hugeReply), 10240, 0,
       hugeReply.substr(0, 10239)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.setDefault(c.reply);
    std::string buffer(c.capacity + 16, '\x7f');
    std::memcpy(&buffer[0], "untouched", 10);
    int rc = varo::service::exchange("{\"COM\":\"0\"}", &buffer[0], c.capacity);
    EXPECT_EQ(rc, c.expectedRc);
    EXPECT_EQ(std::string(buffer.c_str()), c.expected);
    // Nothing past the stated capacity is touched.
    EXPECT_EQ(buffer.substr(c.capacity), std::string(16, '\x7f'));
  }
}

TEST_F(ServiceClient, ExportedFormCutsAtTheSmallestCallerBuffer) {
  service.setDefault(FakeReply::of("{" + std::string(5000, 'c') + "}"));
  char reply[varo::service::kDefaultReplyCapacity + 8];
  std::memset(reply, 0x7f, sizeof reply);
  EXPECT_EQ(SendAndRecv(const_cast<char*>("{\"COM\":\"0\"}"), reply), 0);
  EXPECT_EQ(std::strlen(reply), varo::service::kDefaultReplyCapacity - 1);
  EXPECT_EQ(reply[varo::service::kDefaultReplyCapacity], 0x7f);
  EXPECT_EQ(SendAndRecv(nullptr, reply), 4);
}

TEST_F(ServiceClient, WithoutReplyBufferTheRequestIsSentAndNotAwaited) {
  service.setDefault(FakeReply::silent(5000));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendAndRecv(const_cast<char*>("{\"COM\":\"4\"}"), nullptr), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // The service sees the request on its own time.
  for (int i = 0; i < 200 && service.requestCount() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(service.requests().size(), 1u);
  EXPECT_EQ(service.requests()[0], "{\"COM\":\"4\"}");
}

TEST(ServiceCommands, EachCommandOfTheVocabularyHasItsText) {
  struct Case {
    int com;
    const char *v1, *v2, *v3;
    const char* expected;  // "" for untouched; RANDOM values are replaced by "n"
  };
  const Case cases[] = {
      {4, " ", "S1", nullptr,
       "{\"COM\":\"4\",\"DOCTYPE\":\"VAROOFD\",\"SIGNRESULT\":\"1\",\"ERROR\":\" \","
       "\"SEALID\":\"S1\"}"},
      {4, "PIN wrong", "S1", nullptr,
       "{\"COM\":\"4\",\"DOCTYPE\":\"VAROOFD\",\"SIGNRESULT\":\"0\",\"ERROR\":\"PIN wrong\","
       "\"SEALID\":\"S1\"}"},
      {1, nullptr, nullptr, nullptr, "{\"COM\":\"1\",\"DOCTYPE\":\"VAROOFD\",\"RANDOM\":\"n\"}"},
      {6, "S2", "LM_GM3000&K1", nullptr,
       "{\"COM\":\"6\",\"RANDOM\":\"n\",\"SEALID\":\"S2\",\"DOCTYPE\":\"VAROOFD\","
       "\"DEVICEURL\":\"LM_GM3000&K1\"}"},
      {9, "S3", nullptr, nullptr, "{\"COM\":\"9\",\"RANDOM\":\"n\",\"SEALID\":\"S3\"}"},
      {10, "LM_GM3000&K1", "/VaroSupport/TokenSign_LM", "S4",
       "{\"COM\":\"10\",\"STANDARD\":\"1\",\"PRODUCT\":\"VAROOFD\",\"DEVURL\":\"LM_GM3000&K1\","
       "\"DLLPATH\":\"/VaroSupport/TokenSign_LM\",\"SEALID\":\"S4\"}"},
      {11, nullptr, nullptr, nullptr, "{\"COM\":\"11\"}"},
      {7, "a", "b", "c", ""},
      {0, nullptr, nullptr, nullptr, ""},
      {12, nullptr, nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.com);
    char out[1000];
    std::strcpy(out, "");
    GetCommand(c.com, const_cast<char*>(c.v1), const_cast<char*>(c.v2), const_cast<char*>(c.v3),
               nullptr, out);
    std::string text = out;
    size_t at = text.find("\"RANDOM\":\"");
    if (at != std::string::npos) {
      size_t from = at + 10, to = text.find('"', from);
      int n = std::stoi(text.substr(from, to - from));
      EXPECT_GE(n, 0);
      EXPECT_LE(n, 10);
      text.replace(from, to - from, "n");
    }
    EXPECT_EQ(text, c.expected);
  }
}

TEST(ServiceCommands, TextOverTheWorkingBufferLeavesTheOutputUntouched) {
  std::string id(995, 'x');
  char out[2000] = "as before";
  GetCommand(9, id.data(), nullptr, nullptr, nullptr, out);
  EXPECT_STREQ(out, "as before");
  GetCommand(11, nullptr, nullptr, nullptr, nullptr, nullptr);  // no output: no crash
}

TEST_F(ServiceClient, SealStateFollowsTheFirstMatchingRow) {
  struct Case {
    const char* reply;
    int expected;
  };
  const Case cases[] = {
      {"", 0},
      {"{\"ERR\":\"ERR_NOERR\"}", 0},
      {"{\"ERR\":\"ERR_NEEDLOCALVERIFY\",\"X\":\"ERR_NOERR\"}", 0},
      {"{\"ERR\":\"ERR_NEEDLOCALVERIFY\"}", 4409},
      {"{\"ERR\":\"ERR_NOCONFIG\"}", 0},
      {"{\"ERR\":\"ERR_ERRCONFIG\"}", 0},
      {"{\"ERR\":\"ERR_SERVERERROR\"}", 4408},
      {"{\"ERR\":\"ERR_OUTTIME\"}", 4407},
      {"{\"ERR\":\"ERR_NOREGIST\"}", 4411},
      {"{\"ERR\":\"ERR_SOMETHING\"}", 4376},
      {"ERROR: the seal server failed", 4376},
      {"no json", 0},  // nothing usable arrived: as if the service were absent
  };
  varo::testing::TraceDir trace;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    service.setDefault(FakeReply::of(c.reply));
    service.clearRequests();
    char id[] = "SEAL-7";
    EXPECT_EQ(VerifySealById(id), c.expected);
    ASSERT_EQ(service.requestCount(), 1u);
    EXPECT_EQ(service.requests()[0], "{\"COM\":\"3\",\"SEALID\":\"SEAL-7\"}");
    std::string dumped = trace.read("recv.txt");
    if (c.expected == 0 && (std::string(c.reply).empty() || c.reply[0] == 'n'))
      EXPECT_EQ(dumped, std::string(10, '\0'));
    else
      EXPECT_EQ(dumped, c.reply);
  }
}

TEST_F(ServiceClient, SealStateRefusesAnOverlongIdentifierWithoutSending) {
  std::string id(89, 'i');
  EXPECT_EQ(VerifySealById(id.data()), 4371);
  EXPECT_EQ(VerifySealById(nullptr), 4371);
  std::string fits(88, 'i');
  service.setDefault(FakeReply::of("{\"ERR\":\"ERR_OUTTIME\"}"));
  EXPECT_EQ(VerifySealById(fits.data()), 4407);
  EXPECT_EQ(service.requestCount(), 1u);
}

}  // namespace
