// The installed driver loaded by its path, as its callers load it, over
// software keys in a store of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "VaroDeviceBase_LM_GM3000.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/temp_key_store.h"

namespace varo::testing {

inline std::string installedDriverPath() {
  return std::string(kInstallRoot) + kDriverDirectory + "libVaroDeviceBase_LM_GM3000.so";
}

inline std::string installedVendorLibraryPath() {
  return std::string(kInstallRoot) + kVendorKeyLibraryPath;
}

// One driver object from the installed library.
class InstalledDriver {
 public:
  InstalledDriver() : lib_(installedDriverPath()), object_(lib_) {}
  bool ok() const { return object_.get() != nullptr; }
  VaroDeviceBase* operator->() const { return object_.get(); }
  VaroDeviceBase* get() const { return object_.get(); }
  // The driver's detail code (its one data member).
  int64_t lastError() const { return static_cast<VaroDeviceBase_LM_GM3000*>(get())->LastError; }
  const LoadedLibrary& library() const { return lib_; }

 private:
  LoadedLibrary lib_;
  PluginObject<VaroDeviceBase> object_;
};

// Counts the calls of an SKF function on the software keys: a fault rule
// with a large count answers every matching call with an error, so only
// functions whose failure changes nothing for the caller (the closing
// calls) or that must not be called at all are counted this way.
class CallCounter {
 public:
  static constexpr int64_t kBudget = 1000000;
  CallCounter(softkey::SoftKeyStore& store, std::string function)
      : store_(store), function_(std::move(function)) {
    softkey::FaultSpec rule;
    rule.function = function_;
    rule.code = 0x0A000001;
    rule.count = kBudget;
    EXPECT_TRUE(store_.addFault(rule).ok());
  }
  // The calls since the counter was set up.
  int64_t calls() const {
    for (const std::string& line : store_.listFaults()) {
      if (line.rfind(function_ + " ", 0) != 0) continue;
      const size_t at = line.find("count=");
      if (at != std::string::npos) return kBudget - std::stoll(line.substr(at + 6));
    }
    return kBudget;  // the rule was used up
  }

 private:
  softkey::SoftKeyStore& store_;
  std::string function_;
};

}  // namespace varo::testing
