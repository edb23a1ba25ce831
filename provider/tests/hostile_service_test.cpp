// Whatever the peer on the service port sends (nothing, far more than any
// buffer, a reply that never ends, a PIN of ten thousand characters), every
// flow that asks it ends in bounded time with its code. Built with a quiet
// period of one second, so that an exchange ends after two.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "codec_session.h"
#include "oes_api.h"
#include "pin_handover.h"
#include "service_client.h"
#include "varo/fake_service.h"
#include "varo/install_root.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace {

static_assert(varo::service::kReceiveTimeoutSeconds == 1, "built with a short quiet period");

using varo::testing::Bytes;
using varo::testing::FakeReply;

std::string junk(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 37 + 5) % 256 == '{' ? 0 : (i * 37 + 5) % 256);
  return s;
}

TEST(HostileService, EveryFlowEndsWithItsCodeWhateverThePeerSends) {
  using namespace std::chrono;
  varo::testing::TestPki pki;
  Bytes seal = varo::testing::makeTestSeal(varo::testing::sealSpec(pki, "H5SVC"));
  Bytes digest(32, 0x5A), signature;
  {
    varo::provider::CodecSession codec(varo::kInstallRoot);
    ASSERT_TRUE(codec.isLoaded());
    varo::testing::SignatureInput in;
    in.seal = seal;
    in.digest = digest;
    signature = varo::testing::makeSignature(codec.get(), in, pki.signer.key.get());
  }
  ASSERT_FALSE(signature.empty());
  varo::testing::TmpFiles files;
  files.track("/tmp/varo.list");
  files.track("/tmp/H5SVC.seal");
  files.track("/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal.data(), seal.size())) +
              ".pic");

  const FakeReply replies[] = {
      FakeReply::closeAtOnce(),
      FakeReply::of("{" + std::string(600000, 'x') + "}"),
      FakeReply::of(junk(600000)),
      FakeReply::trickle("{", 300),
      FakeReply::of("{\"PIN\":\"" + std::string(10000, '7') + "\"}"),
  };
  const char* replyNames[] = {"no reply", "600,000 bytes", "600,000 bytes of binary",
                              "a reply that never ends", "a PIN of 10,000 characters"};
  struct Flow {
    const char* name;
    int exchanges;  // the most the flow makes
    std::function<int()> run;
    int expected[5];  // per reply, in the order above
  };
  const Flow flows[] = {
      {"seal list",
       1,
       [] {
         int length = -1;
         return OES_GetSealList(nullptr, &length);
       },
       {4410, 4398, 4410, 4410, 4398}},
      {"seal",
       1,
       [] {
         unsigned char id[] = "H5SVC@LM_GM3000&K@/VaroSupport/TokenSign_LM";
         int length = -1;
         return OES_GetSeal(id, int(sizeof id - 1), nullptr, &length);
       },
       {4399, 4400, 4399, 4399, 4400}},
      {"seal picture",
       1,
       [&] {
         int length = -1, width = -1, height = -1;
         return OES_GetSealImage(seal.data(), int(seal.size()), 0, nullptr, &length, &width,
                                 &height);
       },
       {4399, 4400, 4399, 4399, 4400}},
      {"PIN dialog",
       1,
       [] {
         varo::provider::pin::put("held from before");
         int length = -1;
         int rc =
             OES_Sign(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &length);
         // No PIN may be left to sign with, and no size was reported.
         return varo::provider::pin::held() || length != -1 ? -1 : rc;
       },
       {4383, 4383, 4383, 4383, 4383}},
      {"seal state",
       1,
       [] {
         char id[] = "H5SVC";
         return VerifySealById(id);
       },
       {0, 4376, 0, 0, 4376}},
      {"verification",
       2,
       [&] {
         return OES_Verify(seal.data(), int(seal.size()), nullptr, 0, digest.data(),
                           int(digest.size()), nullptr, 0, nullptr, 0, signature.data(),
                           int(signature.size()));
       },
       {0, 0, 0, 0, 0}},
  };
  varo::testing::FakeService service;
  ASSERT_TRUE(service.start());
  for (size_t r = 0; r < std::size(replies); ++r) {
    service.setDefault(replies[r]);
    for (const Flow& f : flows) {
      SCOPED_TRACE(std::string(f.name) + ", " + replyNames[r]);
      const auto start = steady_clock::now();
      EXPECT_EQ(f.run(), f.expected[r]);
      EXPECT_LT(steady_clock::now() - start,
                seconds(2 * varo::service::kReceiveTimeoutSeconds * f.exchanges + 1));
    }
  }
}

}  // namespace
