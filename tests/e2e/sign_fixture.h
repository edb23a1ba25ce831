// The signing fixture shared by the end-to-end signing tests: a software key
// with the signer's container in a temporary store, a seal whose first
// certificate is that container's, the seal file as the service leaves it,
// a scripted local service, and the installed provider loaded by path.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "varo/fake_service.h"
#include "varo/loaded_library.h"
#include "varo/softkey_admin.h"
#include "varo/temp_key_store.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace signe2e {

using Bytes = std::vector<uint8_t>;

using SignFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                       unsigned char*, int, unsigned char*, int, unsigned char*, int*);
using VerifyFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                         unsigned char*, int, unsigned char*, int, unsigned char*, int);
using SignInfoFn = int (*)(unsigned char*, int, unsigned char*, int*, unsigned char*, int*,
                           unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                           unsigned char*, int*, unsigned char*, int*, unsigned char*, int*);
using SignImageFn = int (*)(unsigned char*, int, int, unsigned char*, int*, int*, int*);
using TimeFn = int (*)(unsigned char*, int*);

inline constexpr const char* kSealIdentifier = "h6e2eSeal";
inline constexpr const char* kKeyPin = "12345678";
inline constexpr const char* kMethod = "1.2.156.10197.1.501";
inline constexpr const char* kTime = "260102030405Z";
inline constexpr const char* kProperty = "contract.ofd";
inline constexpr int kPictureWidth = 40;
inline constexpr int kPictureHeight = 30;

std::string sealIdWith(const std::string& locator,
                       const std::string& module = "/VaroSupport/TokenSign_LM");
std::string pinReply(const std::string& pin);

class SignFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void loadProvider();
  // The first OES_Sign call (no signature buffer); *length receives its length.
  int pinStep(int* length = nullptr);
  // The second call with a buffer of capacity bytes (its length given).
  int signStep(const std::string& sealId, Bytes* signature, int capacity = 204800);
  // Both calls, as a reader makes them.
  int signWithPin(const std::string& sealId, Bytes* signature);
  int verify(const Bytes& seal, const Bytes& digest, Bytes& signature);
  size_t reports() const { return service_.countRequests("\"COM\":\"4\""); }

  varo::testing::TempKeyStore store_{"sign-e2e-keys"};
  Bytes keyCert_;
  varo::testing::TestPki pki_;
  Bytes seal_;
  Bytes picture_;
  Bytes digest_;
  varo::testing::TmpFiles files_;
  varo::testing::FakeService service_;
  std::unique_ptr<varo::LoadedLibrary> provider_;
  SignFn sign_ = nullptr;
};

}  // namespace signe2e
