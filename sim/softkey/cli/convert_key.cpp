#include "convert_key.h"

#include <stdlib.h>

#include "VaroDeviceBase.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"

namespace softkey_cli {

namespace {

// The driver's conversion is an ordinary member, reached through its
// exported name; the object is its first argument.
constexpr const char* kConvertSymbol = "_ZN24VaroDeviceBase_LM_GM300017ConvertSealFormatEPc";
using ConvertFn = int (*)(VaroDeviceBase*, char*);

}  // namespace

int convertWithDriver(const std::string& store, const std::string& device, std::string* error) {
  // The key library the driver loads finds its store through the variable.
  ::setenv("VARO_SOFTKEY_DIR", store.c_str(), 1);
  const std::string path =
      std::string(varo::kInstallRoot) + varo::kDriverDirectory + "libVaroDeviceBase_LM_GM3000.so";
  varo::LoadedLibrary driver(path);
  auto convert = driver.resolve<ConvertFn>(kConvertSymbol);
  varo::PluginObject<VaroDeviceBase> object(driver);
  if (!convert || !object) {
    *error = "cannot use the key driver " + path + ": " + driver.errorString();
    return -1;
  }
  std::string name = device;
  return convert(object.get(), name.data());
}

}  // namespace softkey_cli
