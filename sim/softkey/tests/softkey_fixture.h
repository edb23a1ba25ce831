// A temporary key store with the key library loaded by path, as its callers
// load it, and the provisioning operations pointed at the same store.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "varo/loaded_library.h"
#include "varo/skf_api.h"
#include "varo/softkey_admin.h"

namespace softkey_test {

using skf::ULONG;

inline std::vector<std::string> splitNames(const char* list, size_t size) {
  std::vector<std::string> names;
  size_t i = 0;
  while (i < size && list[i]) {
    std::string n(list + i);
    i += n.size() + 1;
    names.push_back(n);
  }
  return names;
}

// Functions beyond the system's shared table that third-party clients use.
struct ExtraApi {
  ULONG (*GetDevState)(char*, ULONG*) = nullptr;
  ULONG (*GetPINInfo)(skf::HAPPLICATION, ULONG, ULONG*, ULONG*, skf::BOOL*) = nullptr;
  ULONG (*UnblockPIN)(skf::HAPPLICATION, char*, char*, ULONG*) = nullptr;
  ULONG (*ClearSecureState)(skf::HAPPLICATION) = nullptr;
  ULONG (*ExportPublicKey)(skf::HCONTAINER, skf::BOOL, unsigned char*, ULONG*) = nullptr;
  ULONG (*GenRandom)(skf::DEVHANDLE, unsigned char*, ULONG) = nullptr;
  ULONG (*LockDev)(skf::DEVHANDLE, ULONG) = nullptr;
  ULONG (*UnlockDev)(skf::DEVHANDLE) = nullptr;
  ULONG (*GetFileInfo)(skf::HAPPLICATION, char*, skf::FILEATTRIBUTE*) = nullptr;
  ULONG (*DevAuth)(skf::DEVHANDLE, unsigned char*, ULONG) = nullptr;
  ULONG (*ChangeDevAuthKey)(skf::DEVHANDLE, unsigned char*, ULONG) = nullptr;
  ULONG (*SetSymmKey)(skf::DEVHANDLE, unsigned char*, ULONG, skf::HANDLE*) = nullptr;
  using InitFn = ULONG (*)(skf::HANDLE, skf::BLOCKCIPHERPARAM);
  using PieceFn = ULONG (*)(skf::HANDLE, unsigned char*, ULONG, unsigned char*, ULONG*);
  using FinalFn = ULONG (*)(skf::HANDLE, unsigned char*, ULONG*);
  InitFn EncryptInit = nullptr, DecryptInit = nullptr;
  PieceFn Encrypt = nullptr, EncryptUpdate = nullptr, Decrypt = nullptr, DecryptUpdate = nullptr;
  FinalFn EncryptFinal = nullptr, DecryptFinal = nullptr;
  ULONG (*CloseHandle)(skf::HANDLE) = nullptr;

  void resolveFrom(const varo::LoadedLibrary& lib) {
    resolve(lib, "SKF_GetDevState", &GetDevState);
    resolve(lib, "SKF_GetPINInfo", &GetPINInfo);
    resolve(lib, "SKF_UnblockPIN", &UnblockPIN);
    resolve(lib, "SKF_ClearSecureState", &ClearSecureState);
    resolve(lib, "SKF_ExportPublicKey", &ExportPublicKey);
    resolve(lib, "SKF_GenRandom", &GenRandom);
    resolve(lib, "SKF_LockDev", &LockDev);
    resolve(lib, "SKF_UnlockDev", &UnlockDev);
    resolve(lib, "SKF_GetFileInfo", &GetFileInfo);
    resolve(lib, "SKF_DevAuth", &DevAuth);
    resolve(lib, "SKF_ChangeDevAuthKey", &ChangeDevAuthKey);
    resolve(lib, "SKF_SetSymmKey", &SetSymmKey);
    resolve(lib, "SKF_EncryptInit", &EncryptInit);
    resolve(lib, "SKF_Encrypt", &Encrypt);
    resolve(lib, "SKF_EncryptUpdate", &EncryptUpdate);
    resolve(lib, "SKF_EncryptFinal", &EncryptFinal);
    resolve(lib, "SKF_DecryptInit", &DecryptInit);
    resolve(lib, "SKF_Decrypt", &Decrypt);
    resolve(lib, "SKF_DecryptUpdate", &DecryptUpdate);
    resolve(lib, "SKF_DecryptFinal", &DecryptFinal);
    resolve(lib, "SKF_CloseHandle", &CloseHandle);
  }
  template <class Fn>
  static void resolve(const varo::LoadedLibrary& lib, const char* name, Fn* fn) {
    *fn = lib.resolve<Fn>(name);
    ASSERT_NE(*fn, nullptr) << name;
  }
};

// Runs the softkey command on a store; returns its exit status.
inline int runCli(const std::string& store, const QStringList& args, QByteArray* out = nullptr) {
  QProcess p;
  p.start(SOFTKEY_CLI, QStringList{"--store", QString::fromStdString(store)} + args);
  if (!p.waitForFinished(30000)) return -1;
  if (out) *out = p.readAllStandardOutput();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class SoftKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    store_ = tmp_.path().toStdString();
    ::setenv("VARO_SOFTKEY_DIR", store_.c_str(), 1);
    admin_ = std::make_unique<varo::softkey::SoftKeyStore>(store_);
    lib_ = std::make_unique<varo::LoadedLibrary>(SOFTKEY_LIBRARY);
    ASSERT_TRUE(lib_->isLoaded()) << lib_->errorString();
    api_.resolveFrom(*lib_);
    ext_.resolveFrom(*lib_);
  }
  void TearDown() override { ::unsetenv("VARO_SOFTKEY_DIR"); }

  varo::softkey::SoftKeyStore& admin() { return *admin_; }

  // A key with one application and, when asked, one SM2 container.
  void makeKey(const std::string& name, bool withContainer = true) {
    varo::softkey::KeySetup setup;
    setup.serial = "SN-" + name;
    ASSERT_TRUE(admin().createKey(name, setup)) << name;
    if (withContainer) {
      varo::softkey::CertificateRequest req;
      req.subjectDn = "CN=" + name + " signer,O=Varo";
      ASSERT_TRUE(admin().generateContainer(name, "Sign", req, &cert_, &key_).ok());
    }
  }

  skf::DEVHANDLE connect(const std::string& name) {
    skf::DEVHANDLE dev = nullptr;
    EXPECT_EQ(api_.SKF_ConnectDev(const_cast<char*>(name.c_str()), &dev), skf::SAR_OK) << name;
    return dev;
  }

  skf::HAPPLICATION openApp(skf::DEVHANDLE dev,
                            const char* name = varo::softkey::kDefaultApplication) {
    skf::HAPPLICATION app = nullptr;
    EXPECT_EQ(api_.SKF_OpenApplication(dev, const_cast<char*>(name), &app), skf::SAR_OK);
    return app;
  }

  skf::HCONTAINER openContainer(skf::HAPPLICATION app, const char* name = "Sign") {
    skf::HCONTAINER c = nullptr;
    EXPECT_EQ(api_.SKF_OpenContainer(app, const_cast<char*>(name), &c), skf::SAR_OK);
    return c;
  }

  ULONG verifyUserPin(skf::HAPPLICATION app, const char* pin, ULONG* retry = nullptr) {
    ULONG r = 99;
    return api_.SKF_VerifyPIN(app, skf::USER_TYPE, const_cast<char*>(pin), retry ? retry : &r);
  }

  void addFault(const std::string& function, ULONG code, const std::string& name = "",
                int64_t count = -1, uint32_t skip = 0) {
    ASSERT_TRUE(admin().addFault({function, code, name, count, skip}).ok());
  }

  QTemporaryDir tmp_;
  std::string store_;
  std::unique_ptr<varo::softkey::SoftKeyStore> admin_;
  std::unique_ptr<varo::LoadedLibrary> lib_;
  skf::Api api_;
  ExtraApi ext_;
  varo::softkey::Bytes cert_, key_;
};

}  // namespace softkey_test
