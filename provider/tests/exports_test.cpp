// The built library exports its interface and nothing of its internals or of
// the libraries it is linked with.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "varo/loaded_library.h"

namespace {

std::set<std::string> definedDynamicSymbols() {
  std::set<std::string> names;
  std::string command = std::string("nm -D --defined-only -C '") + OESPROVIDER_PATH + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (!pipe) return names;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    // "address type name"; the demangled name may contain spaces.
    size_t first = s.find(' ');
    size_t second = first == std::string::npos ? first : s.find(' ', first + 1);
    if (second != std::string::npos) names.insert(s.substr(second + 1));
  }
  EXPECT_EQ(pclose(pipe), 0);
  return names;
}

const std::set<std::string> kOes = {"OES_GetProviderInfo", "OES_GetSealList",
                                    "OES_GetSeal",         "OES_GetSealInfo",
                                    "OES_GetSealImage",    "OES_GetSignDateTime",
                                    "OES_GetSignMethod",   "OES_GetDigestMethod",
                                    "OES_Digest",          "OES_Sign",
                                    "OES_Verify",          "OES_GetSignInfo",
                                    "OES_GetSignImage",    "OES_CancelSeal",
                                    "OES_GetErrMessage"};

const std::set<std::string> kHelpers = {
    "base64_encode",
    "base64_decode",
    "CopyTo(char const*, unsigned char*, int*, int)",
    "CopyToEx(unsigned char const*, int, unsigned char*, int*)",
    "split(char*, char const*, char**, int*)",
    "HexToString(unsigned char const*, int, char*)",
    "openssl_base64_encode(unsigned char const*, int)",
    "writeLogEx(char*)",
    "writeLog(char const*, unsigned char const*, unsigned long)",
    "writeLog(QString)",
    "SendAndRecv(char*, char*)",
    "GetCommand(int, char*, char*, char*, char*, char*)",
    "VerifySealById(char*)",
    "typeinfo for OesProvider",
    "typeinfo name for OesProvider",
};

const char* kClassPrefixes[] = {"OesProvider::", "mySM3::", "mySM2::", "dovel_x509::"};

bool allowed(const std::string& name) {
  if (kOes.count(name) || kHelpers.count(name)) return true;
  for (const char* prefix : kClassPrefixes)
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

TEST(Exports, OnlyTheInterfaceIsVisible) {
  const std::set<std::string> names = definedDynamicSymbols();
  ASSERT_FALSE(names.empty());
  for (const auto& name : names) EXPECT_TRUE(allowed(name)) << "unexpected export: " << name;
}

TEST(Exports, TheWholeInterfaceIsPresent) {
  const std::set<std::string> names = definedDynamicSymbols();
  // Type information comes with the class's virtual members only.
  auto expected = [](const std::string& name) { return name.rfind("typeinfo", 0) != 0; };
  for (const auto* group : {&kOes, &kHelpers})
    for (const auto& name : *group)
      EXPECT_TRUE(!expected(name) || names.count(name)) << "missing export: " << name;
  const char* methods[] = {
      "OesProvider::OesProvider()",
      "mySM3::sm3(unsigned char const*, int, unsigned char*)",
      "mySM3::getsm3Digest(unsigned char const*, unsigned long, unsigned char const*, unsigned "
      "long, unsigned char*, int*)",
      "mySM3::getsm3DigestWithoutCert(unsigned char const*, unsigned long, unsigned char*, int*)",
      "mySM2::verifySM2Signature(unsigned char const*, unsigned long, unsigned char const*, "
      "unsigned long, unsigned char const*, unsigned long)",
      "dovel_x509::getPublicStructFromCert(unsigned char const*, unsigned long, "
      "Struct_ECCPUBLICKEYBLOB*)",
      "dovel_x509::getCertUserInfo(unsigned char const*, unsigned long, char*)",
  };
  for (const char* name : methods) EXPECT_TRUE(names.count(name)) << "missing export: " << name;
}

TEST(Exports, ReaderResolvesTheUndecoratedNames) {
  varo::LoadedLibrary lib(OESPROVIDER_PATH);
  ASSERT_TRUE(lib.isLoaded()) << lib.errorString();
  for (const char* name : {"OES_GetProviderInfo", "OES_GetSignMethod", "OES_GetDigestMethod",
                           "OES_GetErrMessage", "OES_Digest", "base64_encode", "base64_decode"})
    EXPECT_NE(lib.resolve<void (*)()>(name), nullptr) << name;
}

}  // namespace
