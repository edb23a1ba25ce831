#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "mySM3.h"
#include "oes_api.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes opensslSm3(const Bytes& in) {
  Bytes out(32);
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(in.data(), in.size(), out.data(), &n, EVP_sm3(), nullptr), 1);
  return out;
}

Bytes ours(const Bytes& in) {
  Bytes out(32);
  mySM3::sm3(in.data(), static_cast<int>(in.size()), out.data());
  return out;
}

Bytes pattern(size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

std::string hex(const Bytes& b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (unsigned char c : b) {
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

TEST(Sm3, StandardExamples) {
  std::string abcd16;
  for (int i = 0; i < 16; ++i) abcd16 += "abcd";
  struct Case {
    std::string input, digest;
  } cases[] = {
      {"abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
      {abcd16, "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
  };
  for (const auto& c : cases) {
    Bytes in(c.input.begin(), c.input.end());
    EXPECT_EQ(hex(ours(in)), c.digest) << c.input;
  }
}

// Every length across the padding boundaries (55, 56, 64 and more) and
// several blocks, against the cryptographic library's own SM3.
TEST(Sm3, MatchesReferenceForEveryShortLength) {
  for (size_t n = 0; n <= 300; ++n) {
    Bytes in = pattern(n, static_cast<unsigned>(n));
    ASSERT_EQ(hex(ours(in)), hex(opensslSm3(in))) << "length " << n;
  }
}

TEST(Sm3, MatchesReferenceForLargeInput) {
  for (size_t n : {size_t(3) << 20, (size_t(5) << 20) + 17}) {
    Bytes in = pattern(n, 7);
    EXPECT_EQ(hex(ours(in)), hex(opensslSm3(in))) << n;
  }
}

TEST(Sm3, AnySplitOverUpdatesGivesTheSameDigest) {
  std::mt19937 rng(42);
  for (size_t n : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(1000), size_t(70000)}) {
    Bytes in = pattern(n, 3);
    const Bytes expected = opensslSm3(in);
    for (int round = 0; round < 20; ++round) {
      mySM3::sm3_context ctx;
      mySM3::sm3_starts(&ctx);
      size_t at = 0;
      while (at < n) {
        size_t part = std::min<size_t>(n - at, rng() % 150);
        mySM3::sm3_update(&ctx, in.data() + at, static_cast<int>(part));
        mySM3::sm3_update(&ctx, in.data() + at, 0);   // no-op
        mySM3::sm3_update(&ctx, in.data() + at, -5);  // no-op
        at += part;
      }
      Bytes out(32);
      mySM3::sm3_finish(&ctx, out.data());
      ASSERT_EQ(hex(out), hex(expected)) << "length " << n << " round " << round;
    }
  }
}

TEST(Sm3, PlainDigestWrapperStoresLengthAndOptionalOutput) {
  Bytes in = pattern(100);
  int length = 0;
  EXPECT_TRUE(mySM3::getsm3DigestWithoutCert(in.data(), in.size(), nullptr, &length));
  EXPECT_EQ(length, 32);
  Bytes out(33, 0xAA);
  length = 0;
  EXPECT_TRUE(mySM3::getsm3DigestWithoutCert(in.data(), in.size(), out.data(), &length));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), opensslSm3(in));
  EXPECT_EQ(out[32], 0xAA);
}

TEST(OesDigest, MethodLengthAndBufferCases) {
  const std::string data = "abc";
  const Bytes abc(data.begin(), data.end());
  struct Case {
    const char* name;
    const char* method;
    int methodLength;
    bool withBuffer;
    int incoming;
    int result;
    int lengthAfter;
  } cases[] = {
      {"exact method", "1.2.156.10197.1.401", 19, true, 32, 0, 32},
      {"longer method text", "1.2.156.10197.1.4019", 20, true, 32, 0, 32},
      {"length not read", "1.2.156.10197.1.401", 0, true, 64, 0, 32},
      {"sign method", "1.2.156.10197.1.501", 19, true, 32, 4375, 32},
      {"length 3", "1.2.156.10197.1.401", 3, true, 32, 0, 32},
      {"length 999", "1.2.156.10197.1.401", 999, true, 32, 0, 32},
      {"text shorter than the identifier", "1.2.156.10197", 19, true, 32, 4375, 32},
      {"null method", nullptr, 19, true, 32, 4375, 32},
      {"measuring call", "1.2.156.10197.1.401", 19, false, 0, 0, 32},
      {"too small", "1.2.156.10197.1.401", 19, true, 31, 4371, 31},
  };
  for (const auto& c : cases) {
    Bytes buffer(40, 0xAA);
    int length = c.incoming;
    int rc = OES_Digest(const_cast<unsigned char*>(abc.data()), 3,
                        reinterpret_cast<unsigned char*>(const_cast<char*>(c.method)),
                        c.methodLength, c.withBuffer ? buffer.data() : nullptr, &length);
    EXPECT_EQ(rc, c.result) << c.name;
    if (c.result == 4375) continue;
    EXPECT_EQ(length, c.lengthAfter) << c.name;
    if (rc == 0 && c.withBuffer)
      EXPECT_EQ(hex(Bytes(buffer.begin(), buffer.begin() + 32)),
                "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0")
          << c.name;
    else
      EXPECT_EQ(buffer, Bytes(40, 0xAA)) << c.name;
    EXPECT_EQ(buffer[32], 0xAA) << c.name;
  }
}

TEST(OesDigest, BadArgumentsAreRefused) {
  unsigned char method[] = "1.2.156.10197.1.401";
  unsigned char data[4] = {1, 2, 3, 4};
  unsigned char out[32];
  int length = 32;
  EXPECT_EQ(OES_Digest(data, 4, method, 19, out, nullptr), 4371);
  EXPECT_EQ(OES_Digest(data, -1, method, 19, out, &length), 4371);
  EXPECT_EQ(OES_Digest(nullptr, 4, method, 19, out, &length), 4371);
  EXPECT_EQ(OES_Digest(nullptr, 0, method, 19, out, &length), 0);  // empty document
  EXPECT_EQ(hex(Bytes(out, out + 32)), hex(opensslSm3({})));
}

}  // namespace
