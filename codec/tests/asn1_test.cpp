// The seal structures' DER: checked against an encoder of its own (the seal
// maker's DER writer), hand-written bytes and a tag/length walker, and
// refused whenever the input is not exactly the structure in DER.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "seal_fixture.h"
#include "ses_asn1.h"
#include "ses_ptr.h"
#include "varo/der.h"

namespace {

using codec_test::Bytes;
namespace der = varo::der;

varo::ByteSpan span(const Bytes& b) {
  return varo::ByteSpan(b.data(), b.size());
}

Bytes wholeOf(const der::Element& e) {
  return Bytes(e.whole.data(), e.whole.data() + e.whole.size());
}

// The children of a constructed element, failing the test when it is not.
std::vector<der::Element> kids(const der::Element& e) {
  std::vector<der::Element> out;
  EXPECT_TRUE(der::children(e.content, &out));
  return out;
}

der::Element top(const Bytes& b) {
  varo::ByteSpan in = span(b);
  der::Element e;
  EXPECT_TRUE(der::read(&in, &e));
  EXPECT_TRUE(in.empty());
  return e;
}

Bytes withContent(uint8_t tag, const std::vector<Bytes>& children) {
  Bytes content;
  for (const Bytes& c : children) content.insert(content.end(), c.begin(), c.end());
  return der::tlv(tag, span(content));
}

// The seal rebuilt from its parts, with one change applied to the list of
// MYSES_SealInfo's elements.
Bytes sealWithInfo(const Bytes& seal, const std::function<void(std::vector<Bytes>*)>& change) {
  auto parts = kids(top(seal));
  std::vector<Bytes> info;
  for (const auto& e : kids(parts[0])) info.push_back(wholeOf(e));
  change(&info);
  return withContent(0x30, {withContent(0x30, info), wholeOf(parts[1])});
}

TEST(SealDer, HeaderMatchesHandWrittenBytes) {
  // SEQUENCE { IA5String "ES", INTEGER 2, IA5String "V1" }
  const Bytes expected = {0x30, 0x0B, 0x16, 0x02, 'E', 'S', 0x02, 0x01, 0x02, 0x16, 0x02, 'V', '1'};
  MYSES_Head* head = MYSES_Head_new();
  ASSERT_NE(head, nullptr);
  ASSERT_TRUE(ASN1_STRING_set(head->iid, "ES", 2));
  ASSERT_TRUE(ASN1_INTEGER_set(head->version, 2));
  ASSERT_TRUE(ASN1_STRING_set(head->vid, "V1", 2));
  Bytes der = ses::encode<MYSES_Head>(head, i2d_MYSES_Head);
  MYSES_Head_free(head);
  EXPECT_EQ(der, expected);

  const unsigned char* p = expected.data();
  MYSES_Head* decoded = d2i_MYSES_Head(nullptr, &p, long(expected.size()));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(p, expected.data() + expected.size());
  EXPECT_EQ(ses::bytesOf(decoded->vid).str(), "V1");
  EXPECT_EQ(ASN1_INTEGER_get(decoded->version), 2);
  MYSES_Head_free(decoded);
}

TEST(SealDer, WalkerSeesEveryFieldWithItsUniversalTag) {
  const Bytes seal = codec_test::sampleSeal();
  auto parts = kids(top(seal));
  ASSERT_EQ(parts.size(), 2u);
  auto info = kids(parts[0]);
  ASSERT_EQ(info.size(), 4u);
  auto tagsOf = [](const std::vector<der::Element>& v) {
    std::vector<int> tags;
    for (const auto& e : v) tags.push_back(e.tag);
    return tags;
  };
  EXPECT_EQ(tagsOf(info), (std::vector<int>{0x30, 0x16, 0x30, 0x30}));
  EXPECT_EQ(tagsOf(kids(info[0])), (std::vector<int>{0x16, 0x02, 0x16}));
  EXPECT_EQ(tagsOf(kids(info[2])), (std::vector<int>{0x02, 0x0C, 0x30, 0x17, 0x17, 0x17}));
  EXPECT_EQ(tagsOf(kids(kids(info[2])[2])), (std::vector<int>{0x04, 0x04}));
  EXPECT_EQ(tagsOf(kids(info[3])), (std::vector<int>{0x16, 0x04, 0x02, 0x02}));
  auto signInfo = kids(parts[1]);
  EXPECT_EQ(tagsOf(signInfo), (std::vector<int>{0x04, 0x06, 0x03}));
  // 1.2.156.10197.1.501 and a whole-octet signature value.
  const Bytes oid = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
  EXPECT_TRUE(signInfo[1].content.equals(span(oid)));
  EXPECT_EQ(signInfo[2].content[0], 0);
}

TEST(SealDer, DecodingAndReencodingReproducesTheInput) {
  for (const Bytes& seal : {codec_test::sampleSeal(), [] {
                              auto spec = codec_test::sampleSpec();
                              spec.signerCerts.clear();  // an empty SEQUENCE OF is valid
                              spec.picture.clear();
                              return varo::sealmaker::makeSeal(spec);
                            }()}) {
    const unsigned char* p = seal.data();
    ses::SealPtr decoded(d2i_MYSESeal(nullptr, &p, long(seal.size())));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(p, seal.data() + seal.size());
    EXPECT_EQ(ses::encode<MYSESeal>(decoded.get(), i2d_MYSESeal), seal);
  }
}

TEST(SealDer, AnythingButTheExactStructureInDerIsRefused) {
  const Bytes seal = codec_test::sampleSeal();
  auto replaceAt = [](size_t i, Bytes b) {
    return [i, b](std::vector<Bytes>* info) { (*info)[i] = b; };
  };
  Bytes truncated(seal.begin(), seal.end() - 1);
  // Top-level length written with a needless leading zero octet.
  Bytes nonMinimal = {0x30, 0x83, 0x00};
  {
    der::Element t = top(seal);
    size_t n = t.content.size();
    nonMinimal.push_back(uint8_t(n >> 8));
    nonMinimal.push_back(uint8_t(n));
    nonMinimal.insert(nonMinimal.end(), t.content.data(), t.content.data() + n);
  }
  Bytes indefinite = {0x30, 0x80};
  {
    der::Element t = top(seal);
    indefinite.insert(indefinite.end(), t.content.data(), t.content.data() + t.content.size());
    indefinite.insert(indefinite.end(), {0x00, 0x00});
  }
  Bytes overLong = seal;
  overLong[3] = uint8_t(overLong[3] + 1);  // claims one octet more than there is
  const Bytes constructedId =
      withContent(0x36, {der::text(0x16, "1101"), der::text(0x16, "0800000001")});

  struct Case {
    const char* what;
    Bytes input;
  } cases[] = {
      {"fifth element in the seal information",
       sealWithInfo(seal, [](std::vector<Bytes>* i) { i->push_back(der::sequence({})); })},
      {"seal information one element short",
       sealWithInfo(seal, [](std::vector<Bytes>* i) { i->pop_back(); })},
      {"identifier as UTF8String", sealWithInfo(seal, replaceAt(1, der::text(0x0C, "1101")))},
      {"identifier IMPLICIT [0]", sealWithInfo(seal, replaceAt(1, der::text(0x80, "1101")))},
      {"identifier EXPLICIT [0]",
       sealWithInfo(seal, replaceAt(1, der::tlv(0xA0, span(der::text(0x16, "1101")))))},
      {"identifier as constructed string", sealWithInfo(seal, replaceAt(1, constructedId))},
      {"truncated by one octet", truncated},
      {"length beyond the end", overLong},
      {"non-minimal length", nonMinimal},
      {"indefinite length", indefinite},
      {"a signature is not a seal", Bytes{0x30, 0x03, 0x02, 0x01, 0x02}},
      {"empty input", Bytes{}},
  };
  for (const Case& c : cases) {
    const unsigned char* p = c.input.data();
    MYSESeal* previous = MYSESeal_new();
    MYSESeal* slot = previous;
    MYSESeal* decoded = d2i_MYSESeal(&slot, &p, long(c.input.size()));
    EXPECT_EQ(decoded, nullptr) << c.what;
    EXPECT_EQ(slot, previous) << c.what << ": the caller's record is left alone";
    EXPECT_EQ(p, c.input.data()) << c.what << ": the input is not consumed";
    MYSESeal_free(decoded);
    MYSESeal_free(previous);
  }
}

TEST(SealDer, BitStringsRefuseSetUnusedBitsAndKeepTheirCount) {
  // MYSES_SignInfo { OCTET STRING, OID, BIT STRING } with the BIT STRING given
  // as unused-bits octet + value.
  auto signInfo = [](Bytes bits) {
    return der::sequence({der::octets(varo::ByteSpan("c", 1)), der::objectId("1.2.156.10197.1.501"),
                          der::tlv(0x03, span(bits))});
  };
  struct Case {
    Bytes bits;
    bool accepted;
  } cases[] = {
      {{0x00, 0x12, 0x00}, true},   // trailing zero octet kept
      {{0x01, 0x12, 0x02}, true},   // one unused bit, and it is clear
      {{0x01, 0x12, 0x03}, false},  // the unused bit is set: not DER
      {{0x08, 0x12}, false},        // more than 7 unused bits
  };
  for (const Case& c : cases) {
    Bytes in = signInfo(c.bits);
    const unsigned char* p = in.data();
    MYSES_SignInfo* decoded = d2i_MYSES_SignInfo(nullptr, &p, long(in.size()));
    EXPECT_EQ(decoded != nullptr, c.accepted) << int(c.bits[0]) << " " << int(c.bits.back());
    if (decoded) {
      unsigned char* out = nullptr;
      int n = i2d_MYSES_SignInfo(decoded, &out);
      ASSERT_EQ(n, int(in.size()));
      EXPECT_EQ(0, std::memcmp(out, in.data(), in.size()));
      OPENSSL_free(out);
    }
    MYSES_SignInfo_free(decoded);
  }
}

}  // namespace

namespace {

TEST(SealDer, DamagedSealsAreRefusedOrReencodeExactly) {
  const Bytes seal = codec_test::sampleSeal();
  // Every proper prefix fails.
  for (size_t n = 0; n < seal.size(); n += 7) {
    const unsigned char* p = seal.data();
    EXPECT_EQ(d2i_MYSESeal(nullptr, &p, long(n)), nullptr) << n;
  }
  // Single-octet changes over the structural part (headers and short fields):
  // whatever still decodes must be DER, i.e. re-encode to the same bytes.
  uint32_t state = 12345;
  for (int round = 0; round < 3000; ++round) {
    state = state * 1103515245u + 12345u;
    Bytes damaged = seal;
    size_t at = (state >> 8) % damaged.size();
    damaged[at] = uint8_t(damaged[at] ^ (1u << ((state >> 4) % 8)));
    const unsigned char* p = damaged.data();
    ses::SealPtr decoded(d2i_MYSESeal(nullptr, &p, long(damaged.size())));
    if (!decoded) continue;
    Bytes again = ses::encode<MYSESeal>(decoded.get(), i2d_MYSESeal);
    EXPECT_TRUE(again.size() == size_t(p - damaged.data()) &&
                std::memcmp(again.data(), damaged.data(), again.size()) == 0)
        << "octet " << at;
  }
}

}  // namespace
