// Provider metadata and the fixed algorithm identifiers.
#include <string_view>

#include "oes_api.h"
#include "oes_helpers.h"
#include "oes_messages.h"
#include "varo/caller_buffer.h"

namespace {

constexpr const char* kName = "DOVEL_SM";
constexpr const char* kCompany = "DOVELSEALCO";
constexpr const char* kVersion = "V 1.0";
constexpr const char* kExtend = "DOVEL.2018.12.1";
constexpr const char* kSignMethod = "1.2.156.10197.1.501";
constexpr const char* kDigestMethod = "1.2.156.10197.1.401";

// A buffer whose positive incoming length cannot even hold the text.
bool tooSmall(const unsigned char* buffer, const int* length, std::string_view text) {
  return buffer && *length > 0 && static_cast<size_t>(*length) < text.size();
}

int fixedMethod(const char* text, unsigned char* buffer, int* length, const char* before,
                const char* after) {
  writeLogEx(const_cast<char*>(before));
  if (!length) return varo::oes::kBadArgument;
  const bool refused = tooSmall(buffer, length, text);
  CopyTo(text, buffer, length, 0);
  writeLogEx(const_cast<char*>(after));
  return refused ? varo::oes::kBadArgument : varo::oes::kOk;
}

}  // namespace

int OES_GetProviderInfo(unsigned char* name, int* nameLength, unsigned char* company,
                        int* companyLength, unsigned char* version, int* versionLength,
                        unsigned char* extend, int* extendLength) {
  if (!nameLength || !companyLength || !versionLength || !extendLength)
    return varo::oes::kBadArgument;
  const bool refused =
      tooSmall(name, nameLength, kName) || tooSmall(company, companyLength, kCompany) ||
      tooSmall(version, versionLength, kVersion) || tooSmall(extend, extendLength, kExtend);
  if (refused) {
    // Nothing is written; the lengths tell the reader what to provide.
    CopyTo(kName, nullptr, nameLength, 0);
    CopyTo(kCompany, nullptr, companyLength, 0);
    CopyTo(kVersion, nullptr, versionLength, 0);
    CopyTo(kExtend, nullptr, extendLength, 0);
    return varo::oes::kBadArgument;
  }
  CopyTo(kName, name, nameLength, 0);
  CopyTo(kCompany, company, companyLength, 0);
  CopyTo(kVersion, version, versionLength, 0);
  CopyTo(kExtend, extend, extendLength, 0);
  return varo::oes::kOk;
}

int OES_GetSignMethod(unsigned char* method, int* methodLength) {
  return fixedMethod(kSignMethod, method, methodLength, "inGetSignMethod1", "inGetSignMethod2");
}

int OES_GetDigestMethod(unsigned char* method, int* methodLength) {
  return fixedMethod(kDigestMethod, method, methodLength, "inGetDigestMethod1",
                     "inGetDigestMethod2");
}
