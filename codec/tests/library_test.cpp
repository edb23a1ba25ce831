// The installed codec as its callers see it: loaded by path with the "lib"
// fall-back of the loader, every export found by its undecorated name, one
// object from getObj that decodes a seal and goes back to freeObj.
#include <gtest/gtest.h>
#include <openssl/asn1t.h>

#include <cstring>
#include <string>

#include "BasicSealInfo.h"
#include "seal_fixture.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"

namespace {

std::string codecPath() {
  return std::string(varo::kInstallRoot) + varo::kCodecLibraryPath;
}

const char* const kTypes[] = {"MYSES_Signature",     "MYTBS_Sign",    "MYSESeal",
                              "MYSES_SealInfo",      "MYSES_Head",    "MYSES_ESPropertyInfo",
                              "MYSES_ESPictureInfo", "MYSES_SignInfo"};

TEST(InstalledCodec, LoadsFromTheProvidersPathAndExportsEveryEntryPoint) {
  varo::LoadedLibrary lib(codecPath());
  ASSERT_TRUE(lib.isLoaded()) << lib.errorString();
  for (const char* type : kTypes) {
    std::string t(type);
    for (const std::string& name : {"d2i_" + t, "i2d_" + t, t + "_new", t + "_free", t + "_it"})
      EXPECT_NE(lib.resolve<void (*)()>(name.c_str()), nullptr) << name;
    // The descriptor is a plain SEQUENCE named after its type.
    auto it = lib.resolve<const ASN1_ITEM* (*)()>((t + "_it").c_str());
    ASSERT_NE(it, nullptr);
    EXPECT_EQ(it()->itype, ASN1_ITYPE_SEQUENCE);
    EXPECT_STREQ(it()->sname, type);
    EXPECT_EQ(it()->funcs, nullptr);
  }
  for (const char* name : {"getObj", "freeObj", "_Z13getSignMethodPhPi", "_Z8writeLogPKcPKhm"})
    EXPECT_NE(lib.resolve<void (*)()>(name), nullptr) << name;
  // Internals stay inside.
  EXPECT_EQ(lib.resolve<void (*)()>("_ZN3ses14setWholeOctetsEP14asn1_string_stN4varo8ByteSpanE"),
            nullptr);
}

TEST(InstalledCodec, ObjectFromGetObjDecodesASealMakerSeal) {
  codec_test::Bytes seal = codec_test::sampleSeal();
  ASSERT_FALSE(seal.empty());
  varo::LoadedLibrary lib(codecPath());
  ASSERT_TRUE(lib.isLoaded()) << lib.errorString();
  varo::PluginObject<BasicSealInfo> codec(lib);
  ASSERT_TRUE(codec);
  char esID[100] = {}, name[100] = {}, sealType[20] = {};
  unsigned char cert[4096];
  int certLength = 0;
  ASSERT_TRUE(codec->DecodeSeal(seal.data(), int(seal.size()), esID, name, cert, &certLength,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, sealType, nullptr));
  EXPECT_STREQ(esID, "11010800000001");
  EXPECT_STREQ(name, "Varo 测试专用章");
  EXPECT_STREQ(sealType, "单位公章");
  const auto& signer = codec_test::parties().signerCert;
  ASSERT_EQ(certLength, int(signer.size()));
  EXPECT_EQ(0, std::memcmp(cert, signer.data(), signer.size()));
}

}  // namespace
