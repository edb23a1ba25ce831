// OES_GetSealInfo on seals made by the seal maker, through the installed
// tool library and codec; and the codec loading sequence itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec_session.h"
#include "oes_api.h"
#include "varo/install_root.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::Bytes;

// The eleven output pairs of OES_GetSealInfo.
struct SealInfo {
  static constexpr int kCount = 11;
  std::vector<unsigned char> buffers[kCount];
  int lengths[kCount];

  // Null buffers when measure is true, otherwise buffers of the measured size
  // plus a guard of 4 bytes filled with 0xEE.
  int call(const Bytes& seal, bool measure) {
    unsigned char* b[kCount];
    for (int i = 0; i < kCount; ++i) {
      if (measure) {
        lengths[i] = -5;
        b[i] = nullptr;
      } else {
        buffers[i].assign(size_t(lengths[i]) + 4, 0xEE);
        b[i] = buffers[i].data();
      }
    }
    auto* s = const_cast<unsigned char*>(seal.data());
    int* l = lengths;
    return OES_GetSealInfo(s, int(seal.size()), b[0], &l[0], b[1], &l[1], b[2], &l[2], b[3], &l[3],
                           b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7], b[8], &l[8], b[9],
                           &l[9], b[10], &l[10]);
  }
  std::string text(int i) const {
    return std::string(buffers[i].begin(), buffers[i].begin() + lengths[i]);
  }
  bool guardIntact(int i) const {
    for (size_t k = size_t(lengths[i]); k < buffers[i].size(); ++k)
      if (buffers[i][k] != 0xEE) return false;
    return true;
  }
};

enum Field {
  kId,
  kVersion,
  kVendor,
  kType,
  kName,
  kCert,
  kStart,
  kEnd,
  kCreated,
  kSigner,
  kMethod
};

TEST(SealInfo, EveryFieldOfMadeSealsComesOutWhole) {
  varo::testing::TestPki pki;
  struct Case {
    std::string id;
    std::string name;
    int type;
    const char* typeText;
  };
  const Case cases[] = {
      {"H5-UNIT-1", "单位印章测试", 1, "单位公章"},
      {"H5-PERSON-2", "Personal", 2, "个人印章"},
      {"H5-OTHER-5", "Other", 5, "未知类型"},
      // Fields longer than the usual 49 characters are carried whole.
      {std::string(70, 'L'), std::string(120, 'N'), 1, "单位公章"},
  };
  varo::testing::TraceDir trace;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    varo::sealmaker::SealSpec spec = varo::testing::sealSpec(pki, c.id, c.name);
    spec.type = c.type;
    spec.validEnd = "991231235959Z";
    Bytes seal = varo::testing::makeTestSeal(spec);
    ASSERT_FALSE(seal.empty());
    SealInfo info;
    ASSERT_EQ(info.call(seal, true), 0);
    ASSERT_EQ(info.call(seal, false), 0);
    EXPECT_EQ(info.text(kId), c.id);
    EXPECT_EQ(info.text(kVersion), "2");
    EXPECT_EQ(info.text(kVendor), "VARO-TEST");
    EXPECT_EQ(info.text(kType), c.typeText);
    EXPECT_EQ(info.text(kName), c.name);
    EXPECT_EQ(Bytes(info.buffers[kCert].begin(), info.buffers[kCert].begin() + info.lengths[kCert]),
              pki.signer.certDer);
    EXPECT_EQ(info.text(kStart), "2025-01-01 00:00:00");
    EXPECT_EQ(info.text(kEnd), "2099-12-31 23:59:59");
    EXPECT_EQ(info.text(kCreated), "2025-01-01 00:00:00");
    EXPECT_EQ(info.text(kSigner), "Test Maker");
    EXPECT_EQ(info.text(kMethod), "1.2.156.10197.1.501");
    for (int i = 0; i < SealInfo::kCount; ++i) EXPECT_TRUE(info.guardIntact(i)) << i;
  }
  for (const char* m :
       {"inGetSealInfo1", "inGetSealInfo2", "inGetSealInfo3", "inGetSealInfo4", "inGetSealInfo5"})
    EXPECT_TRUE(trace.has(m)) << m;
}

TEST(SealInfo, RefusedInputsLeaveEveryOutputUntouched) {
  varo::testing::TestPki pki;
  Bytes seal = varo::testing::makeTestSeal(varo::testing::sealSpec(pki, "H5-REFUSE"));
  ASSERT_FALSE(seal.empty());
  Bytes truncated(seal.begin(), seal.begin() + long(seal.size() / 2));
  Bytes flipped = seal;
  flipped[0] ^= 0x20;  // no longer a SEQUENCE
  struct Case {
    const char* name;
    Bytes input;
    int expected;
  };
  const Case cases[] = {
      {"text", Bytes{'n', 'o', 't', ' ', 's', 'e', 'a', 'l'}, 4373},
      {"truncated seal", truncated, 4373},
      {"wrong outer tag", flipped, 4373},
      {"empty", Bytes{}, 4371},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SealInfo info;
    for (int i = 0; i < SealInfo::kCount; ++i) info.lengths[i] = 3;
    EXPECT_EQ(info.call(c.input, false), c.expected);
    for (int i = 0; i < SealInfo::kCount; ++i) {
      EXPECT_EQ(info.lengths[i], 3);
      EXPECT_EQ(info.buffers[i], std::vector<unsigned char>(7, 0xEE));
    }
  }
  // A seal into buffers said to be smaller than the fields: refused whole.
  SealInfo small;
  for (int i = 0; i < SealInfo::kCount; ++i) small.lengths[i] = 3;
  EXPECT_EQ(small.call(seal, false), 4371);
  for (int i = 0; i < SealInfo::kCount; ++i) EXPECT_EQ(small.lengths[i], 3);
}

TEST(CodecSession, OnlyALibraryWithBothFactoriesCountsAsLoaded) {
  varo::testing::TempDir scratch("codec-session");
  ASSERT_TRUE(scratch.ok());
  const std::string& dir = scratch.path();
  // A library that loads but has neither getObj nor freeObj: the provider.
  const std::string fake = dir + "/sealstruct";
  ASSERT_EQ(std::system(("mkdir -p " + fake + " && cp " + varo::kInstallRoot +
                         "/liboesprovider.so " + fake + "/libSesSealStru.so")
                            .c_str()),
            0);
  struct Case {
    std::string home;
    bool loaded;
  };
  const Case cases[] = {
      {varo::kInstallRoot, true},
      {dir, false},
      {"/nonexistent/h5", false},
      {std::string(280, '/') + varo::kInstallRoot, false},  // path over 299 characters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.home);
    varo::provider::CodecSession codec(c.home);
    EXPECT_EQ(codec.isLoaded(), c.loaded);
  }
  std::optional<std::string> home = varo::provider::installDirFromToolLibrary();
  ASSERT_TRUE(home.has_value());
  EXPECT_EQ(*home, varo::kInstallRoot);
}

}  // namespace
