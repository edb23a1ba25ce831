// The stand-alone pieces of the signing flow and the inspection exports:
// seal id limits, the PIN dialog's reply, the signing module's location,
// the signing module's result mapping, the PIN hand-over and the time text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "pin_handover.h"
#include "sign_flow.h"
#include "signature_fields.h"
#include "varo/tmp_files.h"

using namespace varo::provider;
using namespace varo::provider::signing;

namespace {

varo::ByteSpan text(const std::string& s) {
  return varo::ByteSpan(s.data(), s.size());
}

TEST(SealIdFields, SplitsFieldsAndDeviceNameWithinTheLimits) {
  struct Case {
    std::string id;
    bool ok;
    std::string identifier, locator, module;
    const char* device;  // null: no device name
  };
  const std::string longLocator(100, 'k');
  const Case cases[] = {
      {"S1@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM", true, "S1", "LM_GM3000&KEY01",
       "/VaroSupport/TokenSign_LM", "KEY01"},
      {"S1@LM_GM3000@/VaroSupport/TokenSign_LM", true, "S1", "LM_GM3000",
       "/VaroSupport/TokenSign_LM", nullptr},
      {"S1@LM_GM3000&@/m", true, "S1", "LM_GM3000&", "/m", nullptr},
      {"S1@&KEY01@/m", true, "S1", "&KEY01", "/m", nullptr},
      {"S1@T&D&X@/m@extra", true, "S1", "T&D&X", "/m", "D"},
      {"S1@LM_GM3000&KEY01", false, "", "", "", nullptr},
      {"S1@@/m", false, "", "", "", nullptr},
      {"", false, "", "", "", nullptr},
      {"S1@" + longLocator + "@/m", false, "", "", "", nullptr},
      {"S1@" + longLocator.substr(1) + "@/m", true, "S1", longLocator.substr(1), "/m", nullptr},
      {std::string(1000, 'a') + "@T@/m", true, std::string(1000, 'a'), "T", "/m", nullptr},
      {std::string(1020, 'a') + "@T@/m", false, "", "", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id.substr(0, 60));
    auto fields = parseSealId(text(c.id));
    ASSERT_EQ(fields.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(fields->sealIdentifier, c.identifier);
    EXPECT_EQ(fields->keyLocator, c.locator);
    EXPECT_EQ(fields->module, c.module);
    EXPECT_EQ(fields->deviceName.has_value(), c.device != nullptr);
    if (c.device) {
      EXPECT_EQ(*fields->deviceName, c.device);
    }
  }
}

TEST(SealIdFields, OnlyTheGivenLengthIsRead) {
  const std::string id = "S1@T&D@/TokenSign_LM@@@@@@@";
  auto fields = parseSealId(varo::ByteSpan(id.data(), 6));
  EXPECT_FALSE(fields.has_value());  // "S1@T&D" has two fields
}

TEST(PinReply, CarriesThePinWholeUpToItsLimit) {
  const std::string pin49(49, '7');
  struct Case {
    std::string reply;
    int rc;
    std::string pin;
  };
  const Case cases[] = {
      {"{\"PIN\":\"123456\"}", kOk, "123456"},
      {"{\"PIN\":\"" + pin49 + "\"}", kOk, pin49},
      {"{\"PIN\":\"" + pin49 + "8\"}", kBadPin, ""},
      {"{\"PIN\":\"\"}", kOk, ""},
      {"{\"PIN\":\"a\"b\"}", kOk, "a\"b"},
      {"USERCANCELED", kCancelled, ""},
      {"{\"PIN\":\"USERCANCELED\"}", kCancelled, ""},
      {"{}", kBadPin, ""},
      {"", kBadPin, ""},
      {"{\"X\":\"123456\"}", kBadPin, ""},
      {"{\"PIN\":1234}", kBadPin, ""},
      {"\"}{\"PIN\":\"123456", kBadPin, ""},
      {"{\"PI\"}", kBadPin, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    varo::SecretText pin;
    pin.assign("untouched");
    EXPECT_EQ(pinFromReply(c.reply, &pin), c.rc);
    EXPECT_EQ(pin.view(), c.rc == kOk ? c.pin : "untouched");
  }
}

TEST(PinHandover, HoldsUpToFortyNineCharactersAndKeepsThemAfterReading) {
  pin::clear();
  EXPECT_FALSE(pin::held());
  EXPECT_FALSE(pin::PinCopy().valid());

  EXPECT_TRUE(pin::put(std::string(49, 'x')));
  {
    pin::PinCopy copy;
    ASSERT_TRUE(copy.valid());
    EXPECT_EQ(std::string(copy.text()), std::string(49, 'x'));
  }
  EXPECT_TRUE(pin::held());  // reading does not remove it

  EXPECT_FALSE(pin::put(std::string(50, 'y')));
  EXPECT_FALSE(pin::held());  // a refused PIN replaces the old one with none
  EXPECT_FALSE(pin::put(std::string("ab\0cd", 5)));
  EXPECT_TRUE(pin::put(""));
  EXPECT_TRUE(pin::held());
  pin::clear();
  EXPECT_FALSE(pin::held());
}

TEST(SignDataResult, MapsEveryCodeOfTheModule) {
  struct Case {
    int module;
    int result;
    const char* marker;
  };
  const Case cases[] = {
      {0, kOk, nullptr},
      {1, kCertNotOnKey, "INOES_Sign17"},
      {2, kSignFailed, "INOES_Sign20"},
      {3, kSignFailed, "INOES_Sign20"},
      {4, kLibraryMissing, "INOES_Sign18"},
      {5, kPinOrDevice, "INOES_Sign19"},
      {6, kPinOrDevice, "INOES_Sign19"},
      {7, kPinOrDevice, "INOES_Sign19"},
      {8, kPinOrDevice, "INOES_Sign19"},
      {9, kPinOrDevice, "INOES_Sign19"},
      {10, kSignFailed, "INOES_Sign20"},
      {-1, kSignFailed, "INOES_Sign20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    SignDataOutcome o = mapSignDataResult(c.module);
    EXPECT_EQ(o.result, c.result);
    EXPECT_STREQ(o.marker, c.marker);
  }
}

// A scratch installation root with a module file, a link out of it and a
// module outside it.
class ModuleLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    base_ = dir_.path();
    root_ = base_ + "/root";
    ASSERT_EQ(mkdir(root_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root_ + "/VaroSupport").c_str(), 0700), 0);
    touch(root_ + "/VaroSupport/libTokenSign_LM.so");
    touch(root_ + "/VaroSupport/TokenSign_Plain.so");
    touch(base_ + "/libTokenSign_Evil.so");
    ASSERT_EQ(symlink((base_ + "/libTokenSign_Evil.so").c_str(),
                      (root_ + "/VaroSupport/libTokenSign_Link.so").c_str()),
              0);
    ASSERT_EQ(symlink((base_ + "/gone.so").c_str(),
                      (root_ + "/VaroSupport/libTokenSign_Dangling.so").c_str()),
              0);
  }
  static void touch(const std::string& path) { std::ofstream(path) << "x"; }

  varo::testing::TempDir dir_{"sign-module"};
  std::string base_, root_;
};

TEST_F(ModuleLocation, StaysInsideTheInstallationRoot) {
  struct Case {
    std::string field;
    int rc;
    std::string file;  // below root_, when found
  };
  const Case cases[] = {
      {"/VaroSupport/TokenSign_LM", kOk, "/VaroSupport/libTokenSign_LM.so"},
      {"/VaroSupport/TokenSign_LM.so", kOk, "/VaroSupport/libTokenSign_LM.so"},
      {"/VaroSupport/TokenSign_Plain", kOk, "/VaroSupport/TokenSign_Plain.so"},
      {"/VaroSupport/../VaroSupport/TokenSign_LM", kOk, "/VaroSupport/libTokenSign_LM.so"},
      {"/../TokenSign_Evil", kSignFailed, ""},
      {"/VaroSupport/../../TokenSign_Evil", kSignFailed, ""},
      {"/VaroSupport/TokenSign_Link", kSignFailed, ""},
      {"/VaroSupport/../../nowhere/TokenSign_Evil", kSignFailed, ""},
      {"/VaroSupport/TokenSign_Dangling", kSignFailed, ""},
      {"/VaroSupport/TokenSign_None", kLibraryMissing, ""},
      {"/VaroSupport", kLibraryMissing, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    auto path = signingModulePath(root_, c.field);
    if (!path) {
      // Names without the module marker never get this far.
      EXPECT_EQ(c.field.find("TokenSign"), std::string::npos);
      continue;
    }
    std::string resolved;
    EXPECT_EQ(locateSigningModule(*path, root_, &resolved), c.rc);
    if (c.rc == kOk) {
      EXPECT_EQ(resolved, root_ + c.file);
    }
  }
}

TEST(ModulePath, NeedsTheModuleMarkerAndFitsItsBuffer) {
  EXPECT_FALSE(signingModulePath("/opt/varo", "/VaroSupport/OtherSign").has_value());
  EXPECT_EQ(*signingModulePath("/opt/varo", "/VaroSupport/TokenSign_LM"),
            "/opt/varo/VaroSupport/TokenSign_LM.so");
  EXPECT_EQ(*signingModulePath("/opt/varo", "/VaroSupport/TokenSign_LM.dll"),
            "/opt/varo/VaroSupport/TokenSign_LM.dll");
  const std::string home = "/opt/varo";
  EXPECT_TRUE(
      signingModulePath(home, "/TokenSign" + std::string(299 - home.size() - 10, 'a')).has_value());
  EXPECT_FALSE(
      signingModulePath(home, "/TokenSign" + std::string(300 - home.size() - 10, 'a')).has_value());
}

TEST(SignTime, IsTheTwoDigitYearUtcForm) {
  struct Case {
    std::time_t t;
    const char* text;
  };
  const Case cases[] = {
      {1741064767, "250304050607Z"},  // 2025-03-04 05:06:07 UTC
      {946684799, "991231235959Z"},
      {0, "700101000000Z"},
      {4102444800, "000101000000Z"},  // 2100-01-01
  };
  for (const Case& c : cases) {
    char out[kSignTimeLength + 1] = {};
    ASSERT_TRUE(formatSignTime(c.t, out));
    EXPECT_EQ(std::string(out, kSignTimeLength), c.text);
  }
}

}  // namespace
