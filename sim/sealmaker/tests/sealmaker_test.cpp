// makeSeal: the seal's layout, the maker's signature, defaults and refusals.
#include <gtest/gtest.h>

#include <string>

#include "varo/der.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"

namespace {

namespace der = varo::der;
namespace sm = varo::sealmaker;
using Bytes = std::vector<uint8_t>;

struct Maker {
  varo::EvpPkeyPtr key = varo::pki::generateSm2Key();
  varo::X509Ptr cert = varo::pki::issueCertificate(key.get(), "CN=Maker,O=Varo");
  Bytes certDer = varo::pki::toDer(cert.get());
};

sm::SealSpec specFor(const Maker& m) {
  sm::SealSpec s;
  s.name = "Test Seal";
  s.esID = "ES-0001";
  s.vid = "VARO";
  s.validStart = "250101000000Z";
  s.validEnd = "301231235959Z";
  s.createTime = "241231120000Z";
  s.signerCerts = {m.certDer};
  s.makerCert = m.certDer;
  s.makerKey = m.key.get();
  return s;
}

std::vector<der::Element> kidsOf(varo::ByteSpan content) {
  std::vector<der::Element> out;
  EXPECT_TRUE(der::children(content, &out));
  return out;
}

TEST(MakeSeal, MakerSignatureVerifiesOverInfoCertAndAlgorithm) {
  Maker m;
  Bytes seal = sm::makeSeal(specFor(m));
  ASSERT_FALSE(seal.empty());
  Bytes content = sm::makerSignedContent(seal);
  Bytes signature = sm::makerSignature(seal);
  ASSERT_EQ(signature.size(), 64u);
  EXPECT_TRUE(varo::pki::verifyMessage(m.cert.get(), varo::ByteSpan(content.data(), content.size()),
                                       varo::ByteSpan(signature.data(), signature.size())));

  // The signed content is SEQUENCE { esealInfo, cert, signatureAlgorithm }
  // taken from the seal itself.
  varo::ByteSpan in(seal.data(), seal.size());
  der::Element top;
  ASSERT_TRUE(der::read(&in, &top));
  auto parts = kidsOf(top.content);
  auto signInfo = kidsOf(parts[1].content);
  Bytes expected =
      der::sequence({Bytes(parts[0].whole.data(), parts[0].whole.data() + parts[0].whole.size()),
                     der::octets(varo::ByteSpan(m.certDer.data(), m.certDer.size())),
                     der::objectId("1.2.156.10197.1.501")});
  EXPECT_EQ(content, expected);
  EXPECT_EQ(signInfo[2].content[0], 0) << "signData is whole octets";

  // Any change to the seal information breaks the maker's signature.
  Bytes tampered = content;
  tampered[20] ^= 1;
  EXPECT_FALSE(varo::pki::verifyMessage(m.cert.get(),
                                        varo::ByteSpan(tampered.data(), tampered.size()),
                                        varo::ByteSpan(signature.data(), signature.size())));
}

TEST(MakeSeal, FillsTheHeaderAndPictureDefaults) {
  Maker m;
  sm::SealSpec spec = specFor(m);
  spec.createTime.clear();
  spec.validStart.clear();
  spec.validEnd.clear();
  Bytes seal = sm::makeSeal(spec);
  ASSERT_FALSE(seal.empty());
  varo::ByteSpan in(seal.data(), seal.size());
  der::Element top;
  ASSERT_TRUE(der::read(&in, &top));
  auto info = kidsOf(kidsOf(top.content)[0].content);
  auto header = kidsOf(info[0].content);
  EXPECT_EQ(header[0].content.str(), "ES");
  EXPECT_EQ(header[1].whole.str(), std::string("\x02\x01\x02", 3));
  auto property = kidsOf(info[2].content);
  // Created and valid from today, valid for ten years (same day, barring
  // a run across midnight).
  EXPECT_EQ(property[3].content.str().substr(0, 6), sm::utcTimeText().substr(0, 6));
  EXPECT_EQ(property[4].content.str().substr(0, 6), sm::utcTimeText().substr(0, 6));
  EXPECT_EQ(property[5].content.str().substr(0, 6), sm::utcTimeText(10).substr(0, 6));
  auto picture = kidsOf(info[3].content);
  EXPECT_EQ(picture[0].content.str(), "png");
  EXPECT_EQ(picture[1].content.prefix(4).str(), "\x89PNG");
  EXPECT_EQ(picture[2].whole.str(), std::string("\x02\x01\x28", 3)) << "40";
  EXPECT_EQ(picture[3].whole.str(), std::string("\x02\x01\x28", 3));
}

TEST(MakeSeal, RefusesWhatCannotMakeAValidSeal) {
  Maker m;
  struct Case {
    const char* what;
    void (*change)(sm::SealSpec*);
  } cases[] = {
      {"short time", [](sm::SealSpec* s) { s->validStart = "2501010000Z"; }},
      {"month 13", [](sm::SealSpec* s) { s->validEnd = "251301000000Z"; }},
      {"no Z", [](sm::SealSpec* s) { s->createTime = "2501010000000"; }},
      {"letters", [](sm::SealSpec* s) { s->createTime = "25O101000000Z"; }},
      {"no maker key", [](sm::SealSpec* s) { s->makerKey = nullptr; }},
      {"no maker certificate", [](sm::SealSpec* s) { s->makerCert.clear(); }},
  };
  for (const Case& c : cases) {
    sm::SealSpec spec = specFor(m);
    c.change(&spec);
    std::string error;
    EXPECT_TRUE(sm::makeSeal(spec, &error).empty()) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  EXPECT_TRUE(sm::makerSignature(Bytes{0x30, 0x00}).empty());
  EXPECT_TRUE(sm::makerSignedContent(Bytes{0x04, 0x00}).empty());
}

}  // namespace
