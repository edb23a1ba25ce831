// Reading the subject and times out of certificates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dovel_x509.h"
#include "varo/pki.h"

namespace {

using varo::pki::Bytes;

Bytes certificateFor(const std::string& dn) {
  auto key = varo::pki::generateSm2Key();
  auto cert = varo::pki::issueCertificate(key.get(), dn);
  EXPECT_TRUE(cert) << dn;
  return cert ? varo::pki::toDer(cert.get()) : Bytes();
}

TEST(CertUserInfo, CommonNameOrOneLineSubjectWithinThreeHundredBytes) {
  std::string manyUnits;  // a one-line subject far over 300 characters
  for (int i = 0; i < 12; ++i)
    manyUnits += "OU=unit number " + std::to_string(i) + " of a long name,";
  manyUnits += "O=Example";
  std::string cjk;  // 60 three-byte characters: 180 bytes
  for (int i = 0; i < 60; ++i) cjk += "印";
  struct Case {
    std::string dn;
    std::string expected;  // empty: only the length bound is checked
  } cases[] = {
      {"CN=Alice,O=Example", "Alice"},
      {"C=CN,O=Example", "/C=CN/O=Example"},
      {"CN=" + cjk + ",O=Example", cjk},
      {manyUnits, ""},
  };
  for (const auto& c : cases) {
    Bytes der = certificateFor(c.dn);
    ASSERT_FALSE(der.empty());
    char out[dovel_x509::kUserInfoSize + 16];
    std::memset(out, 'G', sizeof out);
    ASSERT_TRUE(dovel_x509::getCertUserInfo(der.data(), der.size(), out)) << c.dn;
    const size_t n = strnlen(out, sizeof out);
    EXPECT_LT(n, size_t(dovel_x509::kUserInfoSize)) << c.dn;
    for (size_t i = dovel_x509::kUserInfoSize; i < sizeof out; ++i) ASSERT_EQ(out[i], 'G');
    if (!c.expected.empty()) {
      EXPECT_EQ(std::string(out), c.expected);
    } else {
      EXPECT_EQ(std::string(out).rfind("/OU=unit number 0", 0), 0u) << out;
      EXPECT_GE(n, 290u);  // cut at the bound, not earlier
    }
  }
}

TEST(CertUserInfo, NonCertificateLeavesTheOutputAlone) {
  const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  char out[8] = "keep";
  EXPECT_FALSE(dovel_x509::getCertUserInfo(junk, sizeof junk, out));
  EXPECT_FALSE(dovel_x509::getCertUserInfo(nullptr, 0, out));
  EXPECT_STREQ(out, "keep");
}

TEST(CertParsing, DerToX509AndOfflineCheck) {
  Bytes der = certificateFor("CN=Dave");
  X509* cert = dovel_x509::der_to_x509(der.data(), static_cast<unsigned int>(der.size()));
  ASSERT_NE(cert, nullptr);
  X509_free(cert);
  EXPECT_EQ(dovel_x509::der_to_x509(der.data(), 10), nullptr);
  EXPECT_EQ(dovel_x509::der_to_x509(nullptr, 10), nullptr);
  EXPECT_TRUE(dovel_x509::verifyCertOffLine(der.data(), der.size()));
}

TEST(ToUtc, ReadsTwelveDigitsAfterTheCentury) {
  struct Case {
    const char* text;
    int year, mon, day, hour, min, sec;
  } cases[] = {
      {"250101120000Z", 2025, 1, 1, 12, 0, 0},
      {"991231235959Z", 2099, 12, 31, 23, 59, 59},
      {"24-02-29 08:30:15", 2024, 2, 29, 8, 30, 15},
      {"2503150102030405", 2025, 3, 15, 1, 2, 3},  // digits past twelve are ignored
  };
  for (const auto& c : cases) {
    struct tm t = {};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.mon - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.min;
    t.tm_sec = c.sec;
    t.tm_isdst = -1;
    EXPECT_EQ(dovel_x509::toUTC(c.text, int(std::strlen(c.text))), mktime(&t)) << c.text;
  }
  // The length bounds what is read.
  EXPECT_EQ(dovel_x509::toUTC("250101120000Z", 6), dovel_x509::toUTC("250101", 6));
}

}  // namespace
