// Every SM3 compression variant of this build that the processor can run
// computes what the portable one computes, for any chaining value, any data
// (aligned or not) and any block count. The dispatched variant is checked
// against the cryptographic library's SM3 by sm3_test.cpp.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mySM3_compress.h"

namespace {

TEST(Sm3Compression, EverySupportedVariantMatchesThePortableOne) {
  size_t count = 0;
  const varo::sm3::Compressor* variants = varo::sm3::compressors(&count);
  ASSERT_GE(count, 1u);
  ASSERT_EQ(variants[0].compress, &varo::sm3::compressPortable);

  std::mt19937 rng(2024);
  std::vector<unsigned char> data(64 * 70 + 3);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  size_t checked = 0;
  for (size_t v = 1; v < count; ++v) {
    if (!variants[v].supported()) continue;
    ++checked;
    for (size_t blocks : {1, 2, 3, 16, 17, 70}) {
      for (size_t offset : {0, 1, 3}) {
        uint32_t expected[8], actual[8];
        for (int i = 0; i < 8; ++i) expected[i] = actual[i] = static_cast<uint32_t>(rng());
        varo::sm3::compressPortable(expected, data.data() + offset, blocks);
        variants[v].compress(actual, data.data() + offset, blocks);
        for (int i = 0; i < 8; ++i)
          ASSERT_EQ(actual[i], expected[i])
              << variants[v].name << ": " << blocks << " blocks at offset " << offset;
      }
    }
  }
  // The variant in use is one the processor supports.
  bool chosenSupported = false;
  for (size_t v = 0; v < count; ++v)
    chosenSupported |= variants[v].compress == varo::sm3::compressor() && variants[v].supported();
  EXPECT_TRUE(chosenSupported);
  if (checked == 0) std::printf("no vectorised variant runs on this processor\n");
}

}  // namespace
