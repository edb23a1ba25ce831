// Signature inspection through the installed provider: bad input leaves the
// reader's outputs alone, and the signing time text has its fixed form.
#include <cctype>
#include <cstring>
#include <ctime>

#include "sign_fixture.h"

namespace signe2e {
namespace {

class SignInspectE2E : public SignFixture {};

TEST_F(SignInspectE2E, BadSignaturesTouchNoOutput) {
  Bytes signature;
  ASSERT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01"), &signature), 0);
  Bytes truncated(signature.begin(), signature.begin() + long(signature.size() / 2));
  Bytes flipped = signature;
  flipped[0] = 0x31;  // a SET, not a SEQUENCE
  const Bytes inputs[] = {Bytes{'n', 'o', 'p', 'e'}, truncated, flipped};

  auto info = provider_->resolve<SignInfoFn>("OES_GetSignInfo");
  auto image = provider_->resolve<SignImageFn>("OES_GetSignImage");
  for (const Bytes& input : inputs) {
    Bytes in = input;
    Bytes out[8];
    int lengths[8];
    for (Bytes& b : out) b.assign(64, 0xAB);
    for (int& l : lengths) l = 64;
    EXPECT_EQ(
        info(in.data(), int(in.size()), out[0].data(), &lengths[0], out[1].data(), &lengths[1],
             out[2].data(), &lengths[2], out[3].data(), &lengths[3], out[4].data(), &lengths[4],
             out[5].data(), &lengths[5], out[6].data(), &lengths[6], out[7].data(), &lengths[7]),
        4370);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(lengths[i], 64);
      EXPECT_EQ(out[i], Bytes(64, 0xAB));
    }
    Bytes picture(64, 0xAB);
    int pictureLength = 64, width = -5, height = -6;
    EXPECT_EQ(image(in.data(), int(in.size()), 0, picture.data(), &pictureLength, &width, &height),
              4370);
    EXPECT_EQ(picture, Bytes(64, 0xAB));
    EXPECT_EQ(pictureLength, 64);
    EXPECT_EQ(width, -5);
    EXPECT_EQ(height, -6);
  }
  EXPECT_EQ(info(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            4370);

  // A buffer that says it is smaller than its field is refused, and nothing
  // is written into any output.
  Bytes small(8, 0xCD), big(signature.size(), 0);
  int smallLength = 8, bigLength = int(big.size());
  EXPECT_EQ(info(signature.data(), int(signature.size()), nullptr, nullptr, small.data(),
                 &smallLength, nullptr, nullptr, big.data(), &bigLength, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr),
            4371);
  EXPECT_EQ(small, Bytes(8, 0xCD));
  EXPECT_EQ(bigLength, int(big.size()));
  Bytes picture(3, 0xCD);
  int pictureLength = 3, width = 0, height = 0;
  EXPECT_EQ(image(signature.data(), int(signature.size()), 0, picture.data(), &pictureLength,
                  &width, &height),
            4371);
  EXPECT_EQ(picture, Bytes(3, 0xCD));
  // Measuring calls report the sizes.
  pictureLength = 0;
  EXPECT_EQ(
      image(signature.data(), int(signature.size()), 0, nullptr, &pictureLength, &width, &height),
      0);
  EXPECT_EQ(pictureLength, int(picture_.size()));
}

TEST_F(SignInspectE2E, SigningTimeIsThirteenCharactersOfUtc) {
  auto getTime = provider_->resolve<TimeFn>("OES_GetSignDateTime");
  varo::testing::TraceDir trace;
  trace.clear();
  int length = 0;
  EXPECT_EQ(getTime(nullptr, &length), 0);
  EXPECT_EQ(length, 13);
  EXPECT_EQ(trace.written(), std::vector<std::string>{"inGetSignDateTime1"});
  EXPECT_EQ(getTime(nullptr, nullptr), 4371);

  unsigned char text[20];
  std::memset(text, '#', sizeof text);
  length = 20;
  std::time_t before = std::time(nullptr);
  ASSERT_EQ(getTime(text, &length), 0);
  std::time_t after = std::time(nullptr);
  EXPECT_EQ(length, 13);
  EXPECT_EQ(text[12], 'Z');
  EXPECT_EQ(text[13], '#');  // no terminator
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(std::isdigit(text[i])) << i;
  char expectBefore[16], expectAfter[16];
  std::tm utc{};
  std::strftime(expectBefore, sizeof expectBefore, "%y%m%d%H%M%SZ", gmtime_r(&before, &utc));
  std::strftime(expectAfter, sizeof expectAfter, "%y%m%d%H%M%SZ", gmtime_r(&after, &utc));
  std::string got(reinterpret_cast<char*>(text), 13);
  EXPECT_TRUE(got == expectBefore || got == expectAfter) << got;

  unsigned char tiny[4] = {1, 2, 3, 4};
  length = 4;
  EXPECT_EQ(getTime(tiny, &length), 4371);
  EXPECT_EQ(tiny[0], 1);
}

}  // namespace
}  // namespace signe2e
