// DecodeSeal and DecodeSignature as the provider and the driver call them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SesSealStru.h"
#include "seal_fixture.h"

namespace {

using codec_test::Bytes;
using varo::sealmaker::SealSpec;

Bytes sealOf(const std::function<void(SealSpec*)>& change) {
  SealSpec spec = codec_test::sampleSpec();
  change(&spec);
  Bytes seal = varo::sealmaker::makeSeal(spec);
  EXPECT_FALSE(seal.empty());
  return seal;
}

std::string text(const char* buffer) {
  return std::string(buffer);
}

bool sameBytes(const unsigned char* got, int length, const Bytes& expected) {
  return length == int(expected.size()) && std::memcmp(got, expected.data(), expected.size()) == 0;
}

TEST(DecodeSeal, EveryOutputCarriesItsField) {
  const Bytes seal = codec_test::sampleSeal();
  const SealSpec spec = codec_test::sampleSpec();
  SesSealStru codec;
  char esID[100] = {}, name[100] = {}, pictureType[20] = {}, vid[50] = {};
  char created[20], start[20], end[20], version[10], sealType[13], algorithm[100];
  unsigned char cert[4096], makerCert[4096], picture[64];
  int certLength = -5, makerCertLength = -5, pictureLength = -5, width = -5, height = -5;
  ASSERT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), esID, name, cert, &certLength,
                               makerCert, &makerCertLength, picture, &pictureLength, pictureType,
                               &width, &height, created, start, end, vid, version, sealType,
                               algorithm));
  EXPECT_EQ(text(esID), spec.esID);
  EXPECT_EQ(text(name), spec.name);
  EXPECT_TRUE(sameBytes(cert, certLength, spec.signerCerts[0])) << "first certificate only";
  EXPECT_TRUE(sameBytes(makerCert, makerCertLength, spec.makerCert));
  EXPECT_TRUE(sameBytes(picture, pictureLength, spec.picture));
  EXPECT_EQ(text(pictureType), "png");
  EXPECT_EQ(width, 40);
  EXPECT_EQ(height, 30);
  EXPECT_EQ(text(created), "2024-03-15 08:30:00");
  EXPECT_EQ(text(start), "2025-01-01 00:00:00");
  EXPECT_EQ(text(end), "2099-12-31 23:59:59");
  EXPECT_EQ(text(vid), "VARO");
  EXPECT_EQ(text(version), "2");
  EXPECT_EQ(text(sealType), "单位公章");
  EXPECT_EQ(text(algorithm), "1.2.156.10197.1.501");
}

TEST(DecodeSeal, NumbersAndTypesAreReportedAsTexts) {
  struct Case {
    int type;
    int version;
    int width;
    const char* typeText;
    const char* versionText;
  } cases[] = {
      {1, 2, 40, "单位公章", "2"},
      {2, 4, 0, "个人印章", "4"},
      {5, 0, -3, "未知类型", "0"},
      {0, 999999999, 2147483647, "未知类型", "999999999"},
      // A version whose text cannot fit the 10-byte field reads as -1.
      {-1, 1234567890, -2147483647 - 1, "未知类型", "-1"},
  };
  SesSealStru codec;
  for (const Case& c : cases) {
    Bytes seal = sealOf([&](SealSpec* s) {
      s->type = c.type;
      s->version = c.version;
      s->width = c.width;
    });
    char sealType[13] = {}, version[10] = {};
    int width = 7;
    ASSERT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, &width, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, version, sealType, nullptr));
    EXPECT_EQ(text(sealType), c.typeText) << c.type;
    EXPECT_EQ(text(version), c.versionText) << c.version;
    EXPECT_EQ(width, c.width);
  }
}

TEST(DecodeSeal, RawTextsAreNotTerminatedAndNullOutputsAreSkipped) {
  const Bytes seal = codec_test::sampleSeal();
  SesSealStru codec;
  char esID[40], name[40], vid[40], pictureType[40];
  for (char* b : {esID, name, vid, pictureType}) std::memset(b, '#', 40);
  ASSERT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), esID, name, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, pictureType, nullptr, nullptr, nullptr,
                               nullptr, nullptr, vid, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::string(esID, 16), "11010800000001##");
  EXPECT_EQ(std::string(vid, 6), "VARO##");
  EXPECT_EQ(std::string(pictureType, 5), "png##");
  EXPECT_EQ(name[std::strlen("Varo 测试专用章")], '#');
  // Nothing requested at all: the seal still decodes.
  EXPECT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  // A length without its buffer is measured.
  int certLength = 0, pictureLength = 0;
  EXPECT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), nullptr, nullptr, nullptr,
                               &certLength, nullptr, nullptr, nullptr, &pictureLength, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr));
  EXPECT_EQ(certLength, int(codec_test::parties().signerCert.size()));
  EXPECT_EQ(pictureLength, 8);
}

TEST(DecodeSeal, SealWithoutCertificatesAnswersAllButTheCertificate) {
  const Bytes seal = sealOf([](SealSpec* s) { s->signerCerts.clear(); });
  SesSealStru codec;
  char esID[40] = {};
  unsigned char cert[64];
  std::memset(cert, 0x5A, sizeof cert);
  int certLength = 77;
  struct Case {
    unsigned char* cert;
    int* length;
  } requests[] = {{cert, &certLength}, {nullptr, &certLength}, {cert, nullptr}};
  for (const Case& r : requests) {
    EXPECT_FALSE(codec.DecodeSeal(seal.data(), int(seal.size()), esID, nullptr, r.cert, r.length,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(esID[0], 0) << "no output touched on failure";
    EXPECT_EQ(certLength, 77);
    EXPECT_EQ(cert[0], 0x5A);
  }
  EXPECT_TRUE(codec.DecodeSeal(seal.data(), int(seal.size()), esID, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::string(esID), "11010800000001");
}

TEST(DecodeSeal, BytesThatAreNotASealTouchNoOutput) {
  const Bytes seal = codec_test::sampleSeal();
  struct Case {
    const char* what;
    const unsigned char* data;
    int length;
  } cases[] = {
      {"null input", nullptr, 100},
      {"negative length", seal.data(), -1},
      {"zero length", seal.data(), 0},
      {"cut short", seal.data(), int(seal.size()) - 1},
  };
  SesSealStru codec;
  for (const Case& c : cases) {
    char esID[8] = "keep", version[8] = "keep";
    int width = 99;
    EXPECT_FALSE(codec.DecodeSeal(c.data, c.length, esID, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, &width, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, version, nullptr, nullptr))
        << c.what;
    EXPECT_EQ(text(esID), "keep");
    EXPECT_EQ(text(version), "keep");
    EXPECT_EQ(width, 99);
  }
}

}  // namespace
