// OES_Sign end to end: the installed provider, codec, signing module and
// software key behind a scripted local service.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "sign_fixture.h"
#include "varo/install_root.h"
#include "varo/pki.h"

namespace signe2e {
namespace {

using varo::testing::FakeReply;

// The first element of a DER SEQUENCE (tag, length and content), or empty.
Bytes firstElement(const Bytes& der) {
  auto header = [&](size_t at, size_t* contentStart, size_t* contentLength) {
    if (at + 2 > der.size()) return false;
    size_t len = der[at + 1], pos = at + 2;
    if (len & 0x80) {
      size_t n = len & 0x7F;
      if (n == 0 || n > 4 || pos + n > der.size()) return false;
      len = 0;
      for (size_t i = 0; i < n; ++i) len = len << 8 | der[pos + i];
      pos += n;
    }
    if (pos + len > der.size()) return false;
    *contentStart = pos;
    *contentLength = len;
    return true;
  };
  size_t start = 0, length = 0, innerStart = 0, innerLength = 0;
  if (!header(0, &start, &length) || !header(start, &innerStart, &innerLength)) return Bytes();
  return Bytes(der.begin() + long(start), der.begin() + long(innerStart + innerLength));
}

class SignE2E : public SignFixture {};

TEST_F(SignE2E, PinStepAnswersFromTheServiceDialog) {
  struct Case {
    FakeReply reply;
    int rc;
    int length;
  };
  const Case cases[] = {
      {FakeReply::of(pinReply(kKeyPin)), 0, 204800},
      {FakeReply::of(pinReply(std::string(49, '9'))), 0, 204800},
      {FakeReply::of("{\"PIN\":\"USERCANCELED\"}"), 16, -1},
      {FakeReply::of("{}"), 4383, -1},
      {FakeReply::of(pinReply(std::string(50, '9'))), 4383, -1},
      {FakeReply::closeAtOnce(), 4383, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.text.substr(0, 30));
    service_.clearRules();
    service_.on("InputPINDlg", c.reply);
    int length = -1;
    EXPECT_EQ(pinStep(&length), c.rc);
    EXPECT_EQ(length, c.length == -1 ? 0 : c.length);
    if (c.rc != 0) {
      // No PIN is left over from the earlier successful dialog.
      Bytes signature;
      EXPECT_EQ(signStep(sealIdWith("LM_GM3000&KEY01"), &signature), 4396);
    }
  }
}

TEST_F(SignE2E, PinStepClearsTheSealListFile) {
  ASSERT_TRUE(files_.write("/tmp/varo.list", std::string("[]")));
  EXPECT_EQ(pinStep(), 0);
  EXPECT_FALSE(varo::testing::fileExists("/tmp/varo.list"));
}

TEST_F(SignE2E, ALongPinIsCarriedWholeToTheKey) {
  const std::string longPin(49, '7');
  ASSERT_TRUE(store_->setPin("KEY01", longPin).ok());
  service_.clearRules();
  service_.on("InputPINDlg", pinReply(longPin));
  service_.on("\"COM\":\"3\"", "{\"ERROR\":\"ERR_NOERR\"}");
  Bytes signature;
  EXPECT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01"), &signature), 0);
}

TEST_F(SignE2E, NoPinHeldRefusesWithoutAskingTheService) {
  ASSERT_EQ(pinStep(), 0);
  loadProvider();  // a fresh load holds no PIN
  service_.clearRequests();
  Bytes signature;
  EXPECT_EQ(signStep(sealIdWith("LM_GM3000&KEY01"), &signature), 4396);
  EXPECT_EQ(service_.requestCount(), 0u);
}

TEST_F(SignE2E, SignatureHoldsWhatWentInAndVerifies) {
  for (const char* locator : {"LM_GM3000&KEY01", "LM_GM3000"}) {
    SCOPED_TRACE(locator);
    service_.clearRequests();
    Bytes signature;
    ASSERT_EQ(signWithPin(sealIdWith(locator), &signature), 0);
    ASSERT_FALSE(signature.empty());
    // The report is sent without waiting for a reply: give the service a
    // moment to record it.
    for (int i = 0; i < 100 && reports() == 0; ++i) usleep(10000);
    EXPECT_EQ(reports(), 1u);
    const std::vector<std::string> requests = service_.requests();
    for (const std::string& r : requests) {
      if (r.find("\"COM\":\"4\"") == std::string::npos) continue;
      EXPECT_EQ(r, std::string("{\"COM\":\"4\",\"DOCTYPE\":\"VAROOFD\",\"SIGNRESULT\":\"1\","
                               "\"ERROR\":\" \",\"SEALID\":\"") +
                       kSealIdentifier + "\"}");
    }

    EXPECT_EQ(verify(seal_, digest_, signature), 0);
    Bytes otherDigest = digest_;
    otherDigest[0] ^= 1;
    EXPECT_NE(verify(seal_, otherDigest, signature), 0);

    // The fields as the reader reads them back.
    auto info = provider_->resolve<SignInfoFn>("OES_GetSignInfo");
    Bytes out[8];
    int lengths[8] = {};
    for (Bytes& b : out) b.assign(signature.size() + 64, 0);
    for (int& l : lengths) l = int(signature.size() + 64);
    ASSERT_EQ(info(signature.data(), int(signature.size()), out[0].data(), &lengths[0],
                   out[1].data(), &lengths[1], out[2].data(), &lengths[2], out[3].data(),
                   &lengths[3], out[4].data(), &lengths[4], out[5].data(), &lengths[5],
                   out[6].data(), &lengths[6], out[7].data(), &lengths[7]),
              0);
    for (int i = 0; i < 8; ++i) out[i].resize(size_t(lengths[i]));
    auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
    EXPECT_EQ(text(out[0]), "2");
    EXPECT_EQ(out[1], seal_);
    EXPECT_EQ(text(out[2]), kTime);
    EXPECT_EQ(out[3], digest_);
    EXPECT_EQ(text(out[4]), kProperty);
    EXPECT_EQ(out[5], keyCert_);
    EXPECT_EQ(text(out[6]), kMethod);
    ASSERT_EQ(out[7].size(), 64u);

    // OpenSSL's own SM2 verification over the signed content, with the
    // certificate on the key.
    auto cert = varo::pki::certificateFromDer(varo::ByteSpan(keyCert_.data(), keyCert_.size()));
    Bytes content = firstElement(signature);
    ASSERT_FALSE(content.empty());
    EXPECT_TRUE(varo::pki::verifyMessage(cert.get(), varo::ByteSpan(content.data(), content.size()),
                                         varo::ByteSpan(out[7].data(), out[7].size())));

    auto image = provider_->resolve<SignImageFn>("OES_GetSignImage");
    Bytes picture(picture_.size(), 0);
    int pictureLength = int(picture.size()), width = 0, height = 0;
    ASSERT_EQ(image(signature.data(), int(signature.size()), 0, picture.data(), &pictureLength,
                    &width, &height),
              0);
    EXPECT_EQ(picture, picture_);
    EXPECT_EQ(width, kPictureWidth);
    EXPECT_EQ(height, kPictureHeight);
  }
}

TEST_F(SignE2E, EveryFailureHasItsCodeAndSendsNoReport) {
  // A module file outside the installation root, reached by climbing out.
  varo::testing::TempDir outsideDir("sign-e2e-outside");
  ASSERT_TRUE(outsideDir.ok());
  const std::string& outside = outsideDir.path();
  std::ofstream(outside + "/libTokenSign_Evil.so") << "not a library";
  const std::string climb = "/../../../../../../../../../../.." + outside + "/TokenSign_Evil";

  Bytes otherSeal;
  {
    auto spec = varo::testing::sealSpec(pki_, "h6e2eOther", "Other Seal");  // signer not on a key
    otherSeal = varo::testing::makeTestSeal(spec);
    ASSERT_TRUE(
        files_.write("/tmp/h6e2eOther.seal", varo::ByteSpan(otherSeal.data(), otherSeal.size())));
    ASSERT_TRUE(files_.write("/tmp/h6e2eJunk.seal", std::string("not a seal")));
  }
  struct Case {
    const char* what;
    std::string sealId;
    std::string pin = kKeyPin;
    std::string com3 = "{\"ERROR\":\"ERR_NOERR\"}";
    const char* fault = nullptr;
    int capacity = 204800;
    int rc;
  };
  const std::string good = sealIdWith("LM_GM3000&KEY01");
  const Case cases[] = {
      {"wrong PIN", good, "00000000", {}, nullptr, 204800, 4396},
      {"unknown device", sealIdWith("LM_GM3000&NOKEY"), kKeyPin, {}, nullptr, 204800, 4396},
      {"certificate on no key",
       "h6e2eOther@LM_GM3000@/VaroSupport/TokenSign_LM",
       kKeyPin,
       {},
       nullptr,
       204800,
       4405},
      {"key fails to sign", good, kKeyPin, {}, "SKF_ECCSignData", 204800, 4379},
      {"module without marker",
       sealIdWith("LM_GM3000&KEY01", "/VaroSupport/OtherSign"),
       kKeyPin,
       {},
       nullptr,
       204800,
       4379},
      {"module outside the root",
       sealIdWith("LM_GM3000&KEY01", climb),
       kKeyPin,
       {},
       nullptr,
       204800,
       4379},
      {"module missing",
       sealIdWith("LM_GM3000&KEY01", "/VaroSupport/TokenSign_None"),
       kKeyPin,
       {},
       nullptr,
       204800,
       4402},
      {"server error", good, kKeyPin, "{\"E\":\"ERR_SERVERERROR\"}", nullptr, 204800, 4408},
      {"out of time", good, kKeyPin, "{\"E\":\"ERR_OUTTIME\"}", nullptr, 204800, 4407},
      {"not registered", good, kKeyPin, "{\"E\":\"ERR_NOREGIST\"}", nullptr, 204800, 4411},
      {"unknown standing", good, kKeyPin, "{\"E\":\"ERR_WHAT\"}", nullptr, 204800, 4376},
      {"two fields", "h6e2eSeal@LM_GM3000&KEY01", kKeyPin, {}, nullptr, 204800, 4371},
      {"long key locator",
       sealIdWith("LM_GM3000&" + std::string(95, 'K')),
       kKeyPin,
       {},
       nullptr,
       204800,
       4371},
      {"seal id too long",
       sealIdWith("LM_GM3000&KEY01", "/" + std::string(1100, 'T')),
       kKeyPin,
       {},
       nullptr,
       204800,
       4371},
      {"no seal file",
       "h6e2eMissing@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM",
       kKeyPin,
       {},
       nullptr,
       204800,
       4400},
      {"seal does not decode",
       "h6e2eJunk@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM",
       kKeyPin,
       {},
       nullptr,
       204800,
       4373},
      {"reader's buffer too small", good, kKeyPin, {}, nullptr, 100, 4371},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    service_.clearRules();
    service_.on("InputPINDlg", pinReply(c.pin));
    service_.on("\"COM\":\"3\"", c.com3.empty() ? "{\"ERROR\":\"ERR_NOERR\"}" : c.com3);
    service_.on("\"COM\":\"12\"", "{}");
    if (c.fault) {
      varo::softkey::FaultSpec f;
      f.function = c.fault;
      f.code = 0x0A000001;
      ASSERT_TRUE(store_->addFault(f).ok());
    }
    service_.clearRequests();
    ASSERT_EQ(pinStep(), 0);
    Bytes signature;
    EXPECT_EQ(signStep(c.sealId, &signature, c.capacity), c.rc);
    EXPECT_EQ(reports(), 0u);
    ASSERT_TRUE(store_->clearFaults().ok());
    ASSERT_TRUE(store_->setPin("KEY01", kKeyPin).ok());  // undo wrong tries
  }
  // A local check asked for by the service passes and the flow goes on.
  service_.on("\"COM\":\"3\"", "{\"E\":\"ERR_NEEDLOCALVERIFY\"}");
  Bytes signature;
  EXPECT_EQ(signWithPin(good, &signature), 0);
}

TEST_F(SignE2E, SuccessWritesTheSigningCheckpoints) {
  varo::testing::TraceDir trace;
  trace.clear();
  Bytes signature;
  ASSERT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01"), &signature), 0);
  for (int i = 1; i <= 26; ++i) {
    const bool expected = !(i == 15 || (i >= 17 && i <= 21) || i == 24);
    EXPECT_EQ(trace.has("INOES_Sign" + std::to_string(i)), expected) << i;
  }
  // The PIN reaches no trace file.
  for (const std::string& name : trace.written())
    EXPECT_EQ(trace.read(name).find(kKeyPin), std::string::npos) << name;
  trace.clear();
  EXPECT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01", "/VaroSupport/OtherSign"), &signature), 4379);
  EXPECT_TRUE(trace.has("INOES_Sign21"));
  EXPECT_FALSE(trace.has("INOES_Sign14"));
}

}  // namespace
}  // namespace signe2e
