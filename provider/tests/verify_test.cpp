// OES_Verify on signatures built in the test with the installed codec and
// OpenSSL's SM2, offline and with a scripted service.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "codec_session.h"
#include "oes_api.h"
#include "varo/fake_service.h"
#include "varo/install_root.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::Bytes;
using varo::testing::FakeReply;
using varo::testing::FakeService;
using varo::testing::SignatureInput;

Bytes sm3(const std::string& text) {
  Bytes out(32);
  unsigned n = 0;
  EVP_Digest(text.data(), text.size(), out.data(), &n, EVP_sm3(), nullptr);
  return out;
}

int verify(const Bytes& seal, const Bytes& digest, const Bytes& signature,
           std::string property = "ignored", std::string time = "ignored") {
  return OES_Verify(const_cast<unsigned char*>(seal.data()), int(seal.size()),
                    reinterpret_cast<unsigned char*>(property.data()), int(property.size()),
                    const_cast<unsigned char*>(digest.data()), int(digest.size()), nullptr, 0,
                    reinterpret_cast<unsigned char*>(time.data()), int(time.size()),
                    const_cast<unsigned char*>(signature.data()), int(signature.size()));
}

class Verify : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new varo::testing::TestPki;
    seal_ = new Bytes(varo::testing::makeTestSeal(varo::testing::sealSpec(*pki_, "H5-VERIFY-A")));
    // Another seal of the same length with other bytes (a picture value
    // ending in a zero octet would change the length, so retry).
    other_ = new Bytes;
    for (int i = 0; i < 20 && other_->size() != seal_->size(); ++i)
      *other_ = varo::testing::makeTestSeal(varo::testing::sealSpec(*pki_, "H5-VERIFY-B"));
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete seal_;
    delete other_;
  }
  void SetUp() override {
    ASSERT_FALSE(seal_->empty());
    ASSERT_TRUE(codec.isLoaded());
    in.seal = *seal_;
    in.digest = sm3("the document");
    signature = varo::testing::makeSignature(codec.get(), in, pki_->signer.key.get());
    ASSERT_FALSE(signature.empty());
  }
  Bytes sign(const SignatureInput& input, int flipBit = -1) {
    return varo::testing::makeSignature(codec.get(), input, pki_->signer.key.get(), nullptr,
                                        flipBit);
  }

  static varo::testing::TestPki* pki_;
  static Bytes* seal_;
  static Bytes* other_;
  varo::provider::CodecSession codec{varo::kInstallRoot};
  SignatureInput in;
  Bytes signature;
  varo::testing::TraceDir trace;
};

varo::testing::TestPki* Verify::pki_ = nullptr;
Bytes* Verify::seal_ = nullptr;
Bytes* Verify::other_ = nullptr;

TEST_F(Verify, OfflineResultsFollowSealDigestAndSignatureValue) {
  ASSERT_EQ(other_->size(), seal_->size());
  Bytes changedDigest = in.digest;
  changedDigest[31] ^= 1;
  Bytes shortSeal(seal_->begin(), seal_->end() - 1);
  Bytes garbage(200, 0x30);
  SignatureInput oversized = in;
  oversized.property = std::string(5000, 'p');
  struct Case {
    const char* name;
    Bytes seal, digest, signature;
    int expected;
  };
  const Case cases[] = {
      {"valid", *seal_, in.digest, signature, 0},
      {"changed digest", *seal_, changedDigest, signature, 4386},
      {"digest of another length", *seal_, Bytes(in.digest.begin(), in.digest.end() - 1), signature,
       4386},
      {"another seal of equal length", *other_, in.digest, signature, 4386},
      {"seal of another length", shortSeal, in.digest, signature, 4373},
      {"flipped value bit", *seal_, in.digest, sign(in, 77), 4386},
      {"flipped last value bit", *seal_, in.digest, sign(in, 511), 4386},
      {"garbage", *seal_, in.digest, garbage, 4370},
      {"empty signature", *seal_, in.digest, Bytes{}, 4370},
      {"truncated signature", *seal_, in.digest, Bytes(signature.begin(), signature.end() - 9),
       4370},
      {"property over its working size", *seal_, in.digest, sign(oversized), 4370},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(verify(c.seal, c.digest, c.signature), c.expected);
  }
  // A stored digest that differs is refused before the signed content is
  // rebuilt and before any SM2 arithmetic.
  trace.clear();
  EXPECT_EQ(verify(*seal_, changedDigest, signature), 4386);
  EXPECT_TRUE(trace.has("INOES_Verify5"));
  EXPECT_FALSE(trace.has("INOES_Verify6"));
  EXPECT_FALSE(trace.has("INOES_Verify8"));
}

TEST_F(Verify, ServiceDownLeavesMarkersUpToTheOfflineCheck) {
  trace.clear();
  EXPECT_EQ(verify(*seal_, in.digest, signature, "another property", "991231235959Z"), 0);
  for (int i : {1, 2, 3, 4, 5, 6, 8, 9, 13, 14})
    EXPECT_TRUE(trace.has("INOES_Verify" + std::to_string(i))) << i;
  for (int i : {7, 10, 11, 12, 15, 16, 17})
    EXPECT_FALSE(trace.has("INOES_Verify" + std::to_string(i))) << i;
}

TEST_F(Verify, OnlineAnswersMapToTheirResults) {
  FakeService service;
  ASSERT_TRUE(service.start());
  struct Case {
    const char* name;
    FakeReply com0, com3;
    int expected;
    std::vector<int> markers;
    std::vector<int> absent = {};
  };
  const Case cases[] = {
      {"in good standing",
       FakeReply::of("{\"OK\":1}"),
       FakeReply::of("{\"ERR\":\"ERR_NOERR\"}"),
       0,
       {9, 10, 11, 12, 16},
       {13, 14, 17}},
      {"signer not trusted",
       FakeReply::of("{}"),
       FakeReply::of("{\"ERR\":\"ERR_ISSUER_USER\"}"),
       4387,
       {16}},
      {"maker not trusted",
       FakeReply::of("{}"),
       FakeReply::of("{\"ERR\":\"ERR_ISSUER_MAKER\"}"),
       4419,
       {16}},
      {"outside validity",
       FakeReply::of("{}"),
       FakeReply::of("{\"ERR\":\"ERR_OUTTIME\"}"),
       4384,
       {16}},
      {"unknown answer",
       FakeReply::of("{}"),
       FakeReply::of("{\"ERR\":\"ERR_WHATEVER\"}"),
       0,
       {16, 17}},
      {"no answer to the seal query", FakeReply::of("{}"), FakeReply::silent(), 0, {12, 17}},
      {"unusable answer to the probe", FakeReply::of("none"), FakeReply::of("{}"), 0, {13, 14}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service.clearRules();
    service.clearRequests();
    service.on("\"COM\":\"0\"", c.com0);
    service.on("\"COM\":\"3\"", c.com3);
    trace.clear();
    EXPECT_EQ(verify(*seal_, in.digest, signature), c.expected);
    for (int m : c.markers) EXPECT_TRUE(trace.has("INOES_Verify" + std::to_string(m))) << m;
    for (int m : c.absent) EXPECT_FALSE(trace.has("INOES_Verify" + std::to_string(m))) << m;
  }
  // The seal query names the seal, the stored time and the signer's
  // certificate in base64 with a line feed after every 64 characters.
  std::vector<std::string> requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);  // the last case asked only COM 0
  service.clearRules();
  service.clearRequests();
  service.on("\"COM\":\"0\"", FakeReply::of("{}"));
  service.on("\"COM\":\"3\"", FakeReply::of("{\"ERR\":\"ERR_NOERR\"}"));
  EXPECT_EQ(verify(*seal_, in.digest, signature), 0);
  requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], "{\"COM\":\"0\"}");
  const std::string& query = requests[1];
  EXPECT_EQ(query.rfind("{\"COM\":\"3\",\"SEALID\":\"H5-VERIFY-A\",\"TIME\":\"250601120000Z\","
                        "\"CERT\":\"",
                        0),
            0u);
  std::string cert = query.substr(query.find("\"CERT\":\"") + 8);
  ASSERT_GE(cert.size(), 2u);
  cert.resize(cert.size() - 2);  // the closing quote and brace
  ASSERT_GT(cert.size(), 64u);
  EXPECT_EQ(cert[64], '\n');
  EXPECT_NE(cert.back(), '\n');
  std::string plain;
  for (char ch : cert)
    if (ch != '\n') plain += ch;
  std::vector<unsigned char> der(plain.size());
  int n = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char*>(plain.data()),
                          int(plain.size()));
  ASSERT_GT(n, 0);
  der.resize(size_t(n) - (plain.size() - plain.find_last_not_of('=') - 1));
  EXPECT_EQ(Bytes(der.begin(), der.end()), pki_->signer.certDer);
}

TEST_F(Verify, ValuesEndingInZeroSurviveTheRoundTrip) {
  // A digest and a signature value whose last octet is zero must come back
  // whole, or a good signature would read as broken.
  SignatureInput zeroDigest = in;
  zeroDigest.digest[31] = 0;
  EXPECT_EQ(verify(*seal_, zeroDigest.digest, sign(zeroDigest)), 0);
  Bytes value;
  Bytes zeroValue;
  for (int i = 0; i < 2000 && zeroValue.empty(); ++i) {
    SignatureInput t = in;
    t.time = "2506011200" + std::to_string(10 + i % 50) + "Z";
    Bytes s = varo::testing::makeSignature(codec.get(), t, pki_->signer.key.get(), &value);
    if (value.size() == 64 && value[63] == 0) zeroValue = s;
  }
  ASSERT_FALSE(zeroValue.empty());
  EXPECT_EQ(verify(*seal_, in.digest, zeroValue), 0);
}

}  // namespace
