// The codec's helpers: time formatting, integers, certificate names, the
// algorithm identifier and the log writer.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "SesSealStru.h"
#include "seal_fixture.h"
#include "varo/openssl_ptr.h"

namespace {

TEST(CodecHelpers, TimesAreFormattedInTheTwentyFirstCentury) {
  struct Case {
    std::string in;
    const char* out;
  } cases[] = {
      {"250101000000Z", "2025-01-01 00:00:00"},
      {"991231235959Z", "2099-12-31 23:59:59"},
      {"000229120000Z", "2000-02-29 12:00:00"},
      {"25010100000012345Z", "2025-01-01 00:00:00"},  // digits after the twelfth are dropped
      {"25-01-01T00:00Z", "2025-01-01 00:00:"},       // non-digits are skipped
      {"2501", "2025-01-"},                           // the text ends at the first missing digit
      {"2", "202"},
      {"Z", "20"},
      {"", "20"},
  };
  SesSealStru codec;
  for (const Case& c : cases) {
    char out[20];
    std::memset(out, '#', sizeof out);
    int length = -1;
    codec.utcstringFormat(reinterpret_cast<const unsigned char*>(c.in.data()), int(c.in.size()),
                          out, &length);
    EXPECT_STREQ(out, c.out) << c.in;
    EXPECT_EQ(length, int(std::strlen(c.out))) << c.in;
  }
  int length = -1;
  codec.utcstringFormat(nullptr, 5, nullptr, &length);
  EXPECT_EQ(length, 2);
}

TEST(CodecHelpers, IntegersGoThroughTheirDecimalText) {
  SesSealStru codec;
  struct Case {
    const char* text;
    bool makes;
    long value;
  } cases[] = {
      {"2", true, 2},
      {"0", true, 0},
      {"-17", true, -17},
      {"9223372036854775807", true, 9223372036854775807L},
      {"9223372036854775808", true, -1},  // does not fit a long
      {"", false, 0},
      {"2x", false, 0},
      {"abc", false, 0},
  };
  for (const Case& c : cases) {
    varo::Asn1IntegerPtr value(codec.CharToAsnInteger(c.text));
    ASSERT_EQ(value != nullptr, c.makes) << c.text;
    if (value) {
      EXPECT_EQ(codec.AsnIntegerToLong(value.get()), c.value) << c.text;
    }
  }
  EXPECT_EQ(codec.AsnIntegerToLong(nullptr), -1);
  EXPECT_EQ(codec.CharToAsnInteger(nullptr), nullptr);
}

TEST(CodecHelpers, CertificateUserIsTheCommonNameOrTheWholeSubject) {
  auto key = varo::pki::generateSm2Key();
  auto certOf = [&](const std::string& dn) {
    return varo::pki::toDer(varo::pki::issueCertificate(key.get(), dn).get());
  };
  struct Case {
    codec_test::Bytes der;
    bool parses;
    const char* user;
  } cases[] = {
      {certOf("CN=Alice,O=Varo"), true, "Alice"},
      {certOf("O=Varo,C=CN"), true, "/O=Varo/C=CN"},
      {codec_test::Bytes{0x30, 0x03, 0x02, 0x01, 0x01}, false, nullptr},
  };
  SesSealStru codec;
  for (const Case& c : cases) {
    char out[600];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(codec.getCertUserInfo(c.der.data(), int(c.der.size()), out), c.parses);
    if (c.parses) {
      EXPECT_STREQ(out, c.user);
    }
  }
}

TEST(CodecHelpers, SignMethodIsTheSm2WithSm3Identifier) {
  unsigned char out[16] = {};
  int length = 0;
  getSignMethod(out, &length);
  EXPECT_EQ(length, 8);
  const unsigned char expected[8] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
  EXPECT_EQ(out[8], 0);
  length = 0;
  getSignMethod(nullptr, &length);
  EXPECT_EQ(length, 8);
}

TEST(CodecHelpers, WriteLogWritesTheBytesOrTenZeros) {
  const std::string path =
      std::string(VARO_TEST_BINARY_DIR) + "/codec_writelog_" + std::to_string(::getpid()) + ".bin";
  struct Case {
    std::string data;
    std::string expected;
  } cases[] = {{"abc", "abc"}, {"", std::string(10, '\0')}, {"x", "x"}};
  for (const Case& c : cases) {
    writeLog(path.c_str(), reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size());
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.expected);
  }
  std::remove(path.c_str());
}

}  // namespace
