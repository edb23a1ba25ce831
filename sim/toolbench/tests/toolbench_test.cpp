// ToolBench.so loaded from the installed tree, as its callers load it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cstring>
#include <string>
#include <vector>

#include "fake_server.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/tool_object.h"

namespace {

char kRecordKey[] = "q8vtkz2#@#lmpwre73xc&bns";

class ToolBenchTest : public ::testing::Test {
 protected:
  ToolBenchTest() : lib_(std::string(varo::kInstallRoot) + varo::kToolLibraryPath), tool_(lib_) {}
  void SetUp() override {
    ASSERT_TRUE(lib_.isLoaded()) << lib_.errorString();
    ASSERT_TRUE(tool_);
  }

  std::vector<unsigned char> encrypt(const std::string& plain, char* key = kRecordKey) {
    std::vector<unsigned char> out(plain.size() + 24, 0xEE);
    int length = static_cast<int>(out.size());
    tool_->EncryptData(reinterpret_cast<unsigned char*>(const_cast<char*>(plain.data())),
                       static_cast<int>(plain.size()), out.data(), &length, key);
    out.resize(static_cast<size_t>(length));
    return out;
  }
  std::string decrypt(std::vector<unsigned char> record, char* key = kRecordKey) {
    std::vector<unsigned char> out(record.size() + 1, 0);
    int length = static_cast<int>(out.size());
    tool_->DecryptData(record.data(), static_cast<int>(record.size()), out.data(), &length, key);
    return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(length));
  }
  std::string send(const std::string& address, int port, std::string request) {
    std::vector<char> reply(10240, 0);
    std::string portText = std::to_string(port);
    char tokenId[] = "T1", field4[] = "";
    tool_->SendToServer(tokenId, const_cast<char*>(address.c_str()), portText.data(),
                        request.data(), reply.data(), field4);
    EXPECT_EQ(reply.back(), 0);
    return std::string(reply.data());
  }

  varo::LoadedLibrary lib_;
  varo::PluginObject<ToolObject> tool_;
};

TEST_F(ToolBenchTest, HomeDirIsTheInstallRootWithoutTrailingSlash) {
  std::vector<char> out(300, 0);
  tool_->GetHomeDir(out.data());
  EXPECT_STREQ(out.data(), VARO_INSTALL_ROOT);
  EXPECT_NE(std::string(out.data()).back(), '/');
}

TEST_F(ToolBenchTest, SignModuleNameIsKnownOnlyForTheGm3000KeyType) {
  struct Case {
    const char* keyType;
    const char* expected;
  } cases[] = {
      {"LM_GM3000", "/VaroSupport/TokenSign_LM"},
      {"lm_gm3000", ""},
      {"LM_GM3000 ", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::vector<char> out(300, 'x');
    char standard[] = "1";
    tool_->GetSignModuleName(const_cast<char*>(c.keyType), standard, out.data());
    EXPECT_STREQ(out.data(), c.expected) << c.keyType;
  }
}

TEST_F(ToolBenchTest, RecordsRoundTripWithAtMost24BytesOverhead) {
  for (size_t size : {1u, 15u, 16u, 17u, 100u, 5000u}) {
    std::string plain(size, '\0');
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>(i * 7 + 3);
    auto record = encrypt(plain);
    ASSERT_FALSE(record.empty()) << size;
    EXPECT_LE(record.size(), size + 24);
    EXPECT_EQ(decrypt(record), plain) << size;
  }
  // A fresh nonce each time: the same text never gives the same record.
  EXPECT_NE(encrypt("same text"), encrypt("same text"));
}

TEST_F(ToolBenchTest, AlteredRecordOrWrongKeyIsRefused) {
  const std::string plain = "{\"COM\":\"5\",\"ASN1\":\"MIIB\",\"STANDARD\":\"1\"}";
  const auto record = encrypt(plain);
  ASSERT_EQ(record.size(), plain.size() + 24);
  // Every byte position: nonce, ciphertext and tag.
  for (size_t i = 0; i < record.size(); ++i) {
    auto altered = record;
    altered[i] ^= 0x01;
    EXPECT_EQ(decrypt(altered), "") << "byte " << i;
  }
  char otherKey[] = "q8vtkz2#@#lmpwre73xc&bnt";
  EXPECT_EQ(decrypt(record, otherKey), "");
  EXPECT_EQ(decrypt(std::vector<unsigned char>(record.begin(), record.end() - 1)), "");
  EXPECT_EQ(decrypt(std::vector<unsigned char>(record.begin(), record.begin() + 23)), "");
}

TEST_F(ToolBenchTest, ShortBuffersAndBadArgumentsGiveLengthZeroAndNoWrite) {
  unsigned char plain[40] = {1, 2, 3};
  struct Case {
    const char* what;
    int inCount;
    int capacity;
    char* key;
  } cases[] = {
      {"buffer one byte short", 40, 63, kRecordKey},
      {"no capacity", 40, 0, kRecordKey},
      {"negative count", -1, 64, kRecordKey},
      {"no key", 40, 64, nullptr},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> out(100, 0xEE);
    int length = c.capacity;
    tool_->EncryptData(plain, c.inCount, out.data(), &length, c.key);
    EXPECT_EQ(length, 0) << c.what;
    EXPECT_EQ(out, std::vector<unsigned char>(100, 0xEE)) << c.what;
  }
  // Decryption into a buffer one byte short of the plain text.
  auto record = encrypt(std::string(40, 'a'));
  std::vector<unsigned char> out(100, 0xEE);
  int length = 39;
  tool_->DecryptData(record.data(), static_cast<int>(record.size()), out.data(), &length,
                     kRecordKey);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(out, std::vector<unsigned char>(100, 0xEE));
}

std::string token(const std::string& plain) {
  return QByteArray(plain.data(), static_cast<int>(plain.size())).toBase64().toStdString();
}

// The token without its "=" padding.
std::string unpadded(const std::string& plain) {
  std::string t = token(plain);
  return t.substr(0, t.find('='));
}

TEST_F(ToolBenchTest, TokensAreParsedOrRefusedWhole) {
  struct Case {
    std::string text;
    bool valid;
    std::string address = "", port = "", tokenId = "", field4 = "";
  } cases[] = {
      {token("127.0.0.1|8080|TK-0001|dept7"), true, "127.0.0.1", "8080", "TK-0001", "dept7"},
      {token("::1|65535|abc|"), true, "::1", "65535", "abc", ""},
      {token("10.0.0.1|1|" + std::string(63, 'i') + "|" + std::string(31, 'f')), true, "10.0.0.1",
       "1", std::string(63, 'i'), std::string(31, 'f')},
      {"127.0.0.1|8080|TK|x", false},  // not base64
      {unpadded("127.0.0.1|8080|TK|x"), false},
      {token("127.0.0.1|8080|TK"), false},         // three fields
      {token("127.0.0.1|8080|TK|x|y"), false},     // five fields
      {token("server.example|8080|TK|x"), false},  // not a numeric address
      {token("127.0.0.1|0|TK|x"), false},
      {token("127.0.0.1|65536|TK|x"), false},
      {token("127.0.0.1|80a|TK|x"), false},
      {token("127.0.0.1|+80|TK|x"), false},
      {token("127.0.0.1|8080||x"), false},  // empty token id
      {token("127.0.0.1|8080|" + std::string(64, 'i') + "|x"), false},
      {token("127.0.0.1|8080|TK|" + std::string(32, 'f')), false},
      {token("127.0.0.1|8080|T\"K|x"), false},
      {token("127.0.0.1|8080|T\\K|x"), false},
      {token("127.0.0.1|8080|TK|x\n"), false},
      {token(std::string("127.0.0.1|8080|T\0K|x", 20)), false},
      {std::string(4000, 'A'), false},
      {"", false},
  };
  for (const auto& c : cases) {
    char address[32], port[16], tokenId[64], field4[32];
    std::memset(address, 'x', sizeof(address));
    std::memset(port, 'x', sizeof(port));
    std::memset(tokenId, 'x', sizeof(tokenId));
    std::memset(field4, 'x', sizeof(field4));
    bool ok = tool_->ParseToken(const_cast<char*>(c.text.c_str()), address, port, nullptr, tokenId,
                                field4);
    ASSERT_EQ(ok, c.valid) << c.text;
    if (ok) {
      EXPECT_EQ(std::string(address), c.address);
      EXPECT_EQ(std::string(port), c.port);
      EXPECT_EQ(std::string(tokenId), c.tokenId);
      EXPECT_EQ(std::string(field4), c.field4);
    } else {
      EXPECT_EQ(address[0], 'x') << "refused token touched an output: " << c.text;
    }
  }
  char out[64];
  EXPECT_FALSE(tool_->ParseToken(nullptr, out, out, nullptr, out, out));
}

TEST_F(ToolBenchTest, SendToServerReturnsTheReplyCutToTheBuffer) {
  const std::string request = "{\"COM\":\"6\",\"TOKENID\":\"T1\"}";
  struct Case {
    const char* what;
    std::string reply;
    std::string expected;
  } cases[] = {
      {"reply", "[{\"SEALID\":\"S1\"}]", "[{\"SEALID\":\"S1\"}]"},
      {"no reply", "", ""},
      {"oversized reply", std::string(10239, 'r') + std::string(20000, 'z'),
       std::string(10239, 'r')},
  };
  for (const auto& c : cases) {
    FakeServer server(c.reply, request.size());
    EXPECT_EQ(send("127.0.0.1", server.port(), request), c.expected) << c.what;
    server.join();
    EXPECT_EQ(server.request(), request) << c.what;
  }
}

TEST_F(ToolBenchTest, SendToServerGivesAnEmptyReplyWhenItCannotConnect) {
  EXPECT_EQ(send("127.0.0.1", unusedLoopbackPort(), "{}"), "");
  EXPECT_EQ(send("not-an-address", 80, "{}"), "");
  EXPECT_EQ(send("127.0.0.1", 0, "{}"), "");
}

}  // namespace
