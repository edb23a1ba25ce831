// The signing path: GetTbsSignData, GetSignatureData, and DecodeSignature on
// what they built.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SesSealStru.h"
#include "seal_fixture.h"
#include "varo/der.h"

namespace {

using codec_test::Bytes;
namespace der = varo::der;

varo::ByteSpan span(const Bytes& b) {
  return varo::ByteSpan(b.data(), b.size());
}

// The four signing inputs as the provider passes them.
struct Inputs {
  std::string property = "<doc id=\"42\"/>";
  Bytes digest = Bytes(32, 0x11);
  std::string method = "1.2.156.10197.1.501";
  std::string time = "250607123456Z";
  unsigned char* values[4];
  int lengths[4];
  int* lengthPtrs[4];
  Inputs() { refresh(); }
  void setTime(const std::string& t) {
    time = t;
    refresh();
  }
  void refresh() {
    values[0] = reinterpret_cast<unsigned char*>(property.data());
    values[1] = digest.data();
    values[2] = reinterpret_cast<unsigned char*>(method.data());
    values[3] = reinterpret_cast<unsigned char*>(time.data());
    lengths[0] = int(property.size());
    lengths[1] = int(digest.size());
    lengths[2] = int(method.size());
    lengths[3] = int(time.size());
    for (int i = 0; i < 4; ++i) lengthPtrs[i] = &lengths[i];
  }
};

// Measuring call, then the copying call into a buffer of that size.
bool tbsFor(SesSealStru& codec, Bytes seal, Inputs& in, Bytes* out) {
  int length = 0;
  if (!codec.GetTbsSignData(seal.data(), int(seal.size()), in.values, in.lengthPtrs, 4, nullptr,
                            &length))
    return false;
  out->assign(size_t(length), 0xEE);
  int second = 0;
  bool ok = codec.GetTbsSignData(seal.data(), int(seal.size()), in.values, in.lengthPtrs, 4,
                                 out->data(), &second);
  EXPECT_EQ(second, length) << "the length-only call reports the full call's length";
  return ok;
}

bool signatureFor(SesSealStru& codec, Bytes tbs, Bytes value, Bytes* out) {
  unsigned char* values[1] = {value.data()};
  int length = int(value.size());
  int* lengths[1] = {&length};
  int outLength = 0;
  if (!codec.GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, nullptr, &outLength))
    return false;
  out->assign(size_t(outLength), 0);
  return codec.GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, out->data(),
                                &outLength);
}

std::vector<der::Element> childrenOf(const Bytes& b) {
  varo::ByteSpan in = span(b);
  der::Element top;
  std::vector<der::Element> out;
  EXPECT_TRUE(der::read(&in, &top));
  EXPECT_TRUE(der::children(top.content, &out));
  return out;
}

TEST(SigningPath, TbsHoldsTheInputsWholeWithUnusedBitsZero) {
  SesSealStru codec;
  const Bytes seal = codec_test::sampleSeal();
  Inputs in;
  Bytes tbs;
  ASSERT_TRUE(tbsFor(codec, seal, in, &tbs));

  auto fields = childrenOf(tbs);
  ASSERT_EQ(fields.size(), 7u);
  EXPECT_EQ(fields[0].whole.str(), std::string("\x02\x01\x02", 3)) << "version 2";
  EXPECT_TRUE(fields[1].whole.equals(span(seal))) << "the seal re-encoded unchanged";
  EXPECT_EQ(fields[2].tag, 0x03);
  EXPECT_EQ(fields[2].content.str(), std::string(1, '\0') + in.time);
  EXPECT_EQ(fields[3].tag, 0x03);
  EXPECT_EQ(fields[3].content[0], 0);
  EXPECT_TRUE(fields[3].content.from(1).equals(span(in.digest)));
  EXPECT_EQ(fields[4].tag, 0x16);
  EXPECT_EQ(fields[4].content.str(), in.property);
  EXPECT_EQ(fields[5].tag, 0x04);
  EXPECT_TRUE(fields[5].content.equals(span(codec_test::parties().signerCert)));
  EXPECT_EQ(fields[6].whole.str(), std::string("\x06\x08\x2A\x81\x1C\xCF\x55\x01\x83\x75", 10));
}

TEST(SigningPath, SignatureEmbedsTheTbsAndDecodesToWhatWentIn) {
  // Values ending in a zero octet or an even octet must come back whole.
  struct Case {
    Bytes digest;
    Bytes value;
  } cases[] = {
      {Bytes(32, 0x11), Bytes(64, 0x33)},
      {[] {
         Bytes d(32, 0x11);
         d.back() = 0;
         return d;
       }(),
       [] {
         Bytes v(64, 0x33);
         v.back() = 0;
         return v;
       }()},
      {[] {
         Bytes d(32, 0x11);
         d.back() = 0x80;
         return d;
       }(),
       [] {
         Bytes v(64, 0x33);
         v.back() = 0x02;
         return v;
       }()},
      {Bytes(32, 0x00), Bytes(64, 0x00)},
  };
  SesSealStru codec;
  const Bytes seal = codec_test::sampleSeal();
  for (const Case& c : cases) {
    Inputs in;
    in.digest = c.digest;
    in.refresh();
    Bytes tbs, signature;
    ASSERT_TRUE(tbsFor(codec, seal, in, &tbs));
    ASSERT_TRUE(signatureFor(codec, tbs, c.value, &signature));

    auto fields = childrenOf(tbs);
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[3].content[0], 0) << "dataHash unused bits";
    EXPECT_TRUE(fields[3].content.from(1).equals(span(c.digest))) << "dataHash whole";

    auto parts = childrenOf(signature);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_TRUE(parts[0].whole.equals(span(tbs))) << "toSign is the tbs byte for byte";
    EXPECT_EQ(parts[1].content[0], 0);
    EXPECT_TRUE(parts[1].content.from(1).equals(span(c.value)));

    char version[10] = {}, timeInfo[50] = {}, algorithm[100] = {};
    unsigned char sealOut[4096], hash[300], property[300], cert[4096], value[300], picture[64];
    int sealLength = 0, hashLength = 0, propertyLength = 0, certLength = 0, valueLength = 0;
    int pictureLength = 0, width = 0, height = 0;
    ASSERT_TRUE(codec.DecodeSignature(signature.data(), int(signature.size()), version, sealOut,
                                      &sealLength, timeInfo, hash, &hashLength, property,
                                      &propertyLength, cert, &certLength, algorithm, value,
                                      &valueLength, picture, &pictureLength, &width, &height));
    EXPECT_EQ(std::string(version), "2");
    EXPECT_EQ(Bytes(sealOut, sealOut + sealLength), seal);
    EXPECT_EQ(std::string(timeInfo), in.time);
    EXPECT_EQ(Bytes(hash, hash + hashLength), c.digest);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(property), size_t(propertyLength)), in.property);
    EXPECT_EQ(Bytes(cert, cert + certLength), codec_test::parties().signerCert);
    EXPECT_EQ(std::string(algorithm), "1.2.156.10197.1.501");
    EXPECT_EQ(Bytes(value, value + valueLength), c.value);
    EXPECT_EQ(Bytes(picture, picture + pictureLength), codec_test::sampleSpec().picture);
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 30);
    sealLength = 0;  // the seal's length is given without its buffer too
    ASSERT_TRUE(codec.DecodeSignature(signature.data(), int(signature.size()), nullptr, nullptr,
                                      &sealLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr));
    EXPECT_EQ(sealLength, int(seal.size()));
  }
}

TEST(SigningPath, TbsIsRefusedWhereTheResultCouldNotBeRight) {
  SesSealStru codec;
  const Bytes seal = codec_test::sampleSeal();
  const Bytes noCerts = varo::sealmaker::makeSeal([] {
    auto s = codec_test::sampleSpec();
    s.signerCerts.clear();
    return s;
  }());
  const Bytes bigCert = varo::sealmaker::makeSeal([] {
    auto s = codec_test::sampleSpec();
    s.signerCerts = {Bytes(4097, 0x30)};
    return s;
  }());
  const Bytes largestCert = varo::sealmaker::makeSeal([] {
    auto s = codec_test::sampleSpec();
    s.signerCerts = {Bytes(4096, 0x30)};
    return s;
  }());
  struct Case {
    const char* what;
    const Bytes* seal;
    std::function<void(Inputs*)> change;
    bool ok;
  } cases[] = {
      {"plain", &seal, [](Inputs*) {}, true},
      {"empty certificate list", &noCerts, [](Inputs*) {}, false},
      {"first certificate over 4096 bytes", &bigCert, [](Inputs*) {}, false},
      {"first certificate of 4096 bytes", &largestCert, [](Inputs*) {}, true},
      {"time of 12 octets", &seal, [](Inputs* i) { i->setTime("250607123456"); }, true},
      {"time of 20 octets", &seal, [](Inputs* i) { i->setTime("2025-06-07 12:34:56Z"); }, true},
      {"time of 21 octets", &seal, [](Inputs* i) { i->setTime("2025-06-07 12:34:56.Z"); }, false},
      {"time with a zero octet", &seal,
       [](Inputs* i) {
         i->setTime(
             std::string("250607\0"
                         "23456Z",
                         13));
       },
       false},
      {"empty property", &seal,
       [](Inputs* i) {
         i->property.clear();
         i->refresh();
       },
       true},
      {"negative digest length", &seal, [](Inputs* i) { i->lengths[1] = -1; }, false},
      {"missing time length", &seal, [](Inputs* i) { i->lengthPtrs[3] = nullptr; }, false},
      {"missing digest bytes", &seal, [](Inputs* i) { i->values[1] = nullptr; }, false},
      {"signing method not read", &seal,
       [](Inputs* i) {
         i->values[2] = nullptr;
         i->lengthPtrs[2] = nullptr;
       },
       true},
  };
  for (const Case& c : cases) {
    Inputs in;
    c.change(&in);
    Bytes copy = *c.seal;
    int length = 12345;
    bool ok = codec.GetTbsSignData(copy.data(), int(copy.size()), in.values, in.lengthPtrs, 4,
                                   nullptr, &length);
    EXPECT_EQ(ok, c.ok) << c.what;
    if (!ok) {
      EXPECT_EQ(length, 12345) << c.what << ": no output on failure";
    }
  }
  Inputs in;
  Bytes copy = seal;
  int length = 0;
  EXPECT_FALSE(codec.GetTbsSignData(copy.data(), int(copy.size()), in.values, in.lengthPtrs, 3,
                                    nullptr, &length))
      << "fewer than four inputs";
  EXPECT_FALSE(codec.GetTbsSignData(copy.data(), int(copy.size()), nullptr, in.lengthPtrs, 4,
                                    nullptr, &length));
  EXPECT_FALSE(codec.GetTbsSignData(copy.data(), int(copy.size()) - 1, in.values, in.lengthPtrs, 4,
                                    nullptr, &length));
}

TEST(SigningPath, SignatureNeedsExactlyOneTbs) {
  SesSealStru codec;
  Inputs in;
  Bytes tbs, signature;
  ASSERT_TRUE(tbsFor(codec, codec_test::sampleSeal(), in, &tbs));
  Bytes trailing = tbs;
  trailing.push_back(0);
  Bytes cut(tbs.begin(), tbs.end() - 1);
  for (const Bytes& bad : {trailing, cut, codec_test::sampleSeal()})
    EXPECT_FALSE(signatureFor(codec, bad, Bytes(64, 1), &signature));
  unsigned char* values[1] = {nullptr};
  int length = 64;
  int* lengths[1] = {&length};
  int outLength = 0;
  EXPECT_FALSE(
      codec.GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, nullptr, &outLength))
      << "a signature value that is missing";
}

}  // namespace

namespace {

TEST(SigningPath, DamagedSignaturesAreDecodedSafelyOrRefused) {
  SesSealStru codec;
  Inputs in;
  Bytes tbs, signature;
  ASSERT_TRUE(tbsFor(codec, codec_test::sampleSeal(), in, &tbs));
  ASSERT_TRUE(signatureFor(codec, tbs, Bytes(64, 7), &signature));
  uint32_t state = 777;
  for (int round = 0; round < 2000; ++round) {
    state = state * 1103515245u + 12345u;
    Bytes damaged = signature;
    size_t at = (state >> 8) % damaged.size();
    damaged[at] = uint8_t(damaged[at] ^ (1u << ((state >> 4) % 8)));
    // Every output sized from the input itself, which bounds every field.
    std::vector<char> text(damaged.size());
    int a = 0, b = 0, c = 0, d = 0, e = 0, f = 0, w = 0, h = 0;
    Bytes seal(damaged.size()), hash(damaged.size()), prop(damaged.size()), cert(damaged.size()),
        value(damaged.size()), pic(damaged.size());
    char version[10], algorithm[100];
    if (codec.DecodeSignature(damaged.data(), int(damaged.size()), version, seal.data(), &a,
                              text.data(), hash.data(), &b, prop.data(), &c, cert.data(), &d,
                              algorithm, value.data(), &e, pic.data(), &f, &w, &h)) {
      EXPECT_LE(size_t(a), damaged.size());
    }
  }
}

}  // namespace
