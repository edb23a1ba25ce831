#include "vendor_key.h"

#include <cstring>

namespace tokensign {

VendorLibrary::VendorLibrary(const char* path) : lib_(path ? std::string(path) : std::string()) {
  if (!lib_.isLoaded()) return;
  api_.resolveFrom(lib_);
  usable_ = api_.SKF_EnumDev && api_.SKF_ConnectDev && api_.SKF_DisConnectDev &&
            api_.SKF_EnumApplication && api_.SKF_OpenApplication && api_.SKF_CloseApplication &&
            api_.SKF_VerifyPIN && api_.SKF_EnumContainer && api_.SKF_OpenContainer &&
            api_.SKF_CloseContainer && api_.SKF_ExportCertificate && api_.SKF_ECCSignData;
}

bool copyName(const std::string& name, char* out, size_t capacity) {
  if (!out || name.size() + 1 > capacity) return false;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace tokensign
