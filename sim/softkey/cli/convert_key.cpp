#include "convert_key.h"

#include <stdlib.h>

#include "VaroDeviceBase_LM_GM3000.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"

namespace softkey_cli {

namespace {

// The driver's conversion is an ordinary member, reached through its
// exported name; the object is its first argument.
constexpr const char* kConvertSymbol = "_ZN24VaroDeviceBase_LM_GM300017ConvertSealFormatEPc";
using ConvertFn = int (*)(VaroDeviceBase*, char*);

// The reason a conversion left in the object. The driver's getObj makes the
// driver's own class, whose type information lives in the driver library
// loaded at run time: the sanitizer's check of the cast, which needs it at
// link time, is left out here.
__attribute__((no_sanitize("vptr"))) int64_t lastErrorOf(VaroDeviceBase* object) {
  return static_cast<VaroDeviceBase_LM_GM3000*>(object)->LastError;
}

}  // namespace

Conversion convertWithDriver(const std::string& store, const std::string& device) {
  Conversion out;
  // The key library the driver loads finds its store through the variable.
  ::setenv("VARO_SOFTKEY_DIR", store.c_str(), 1);
  const std::string path =
      std::string(varo::kInstallRoot) + varo::kDriverDirectory + "libVaroDeviceBase_LM_GM3000.so";
  varo::LoadedLibrary driver(path);
  auto convert = driver.resolve<ConvertFn>(kConvertSymbol);
  varo::PluginObject<VaroDeviceBase> object(driver);
  if (!convert || !object) {
    out.error = "cannot use the key driver " + path + ": " + driver.errorString();
    return out;
  }
  std::string name = device;
  out.result = convert(object.get(), name.data());
  if (out.result == 1) return out;
  // Its LastError says why a conversion did not happen.
  out.reason = lastErrorOf(object.get());
  if (out.reason >= INT32_MIN && out.reason <= INT32_MAX) {
    char text[256] = {};
    object->GetErrorMsg(static_cast<int>(out.reason), text);
    text[sizeof text - 1] = '\0';
    out.reasonText = text;
  }
  return out;
}

}  // namespace softkey_cli
