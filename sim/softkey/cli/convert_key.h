// The installed key driver's conversion of a key whose seal is in the old
// three-file form into a key with a seal index, run on a software key.
#pragma once

#include <cstdint>
#include <string>

namespace softkey_cli {

struct Conversion {
  // 1 when the seal was written to the key, 0 when the driver did not
  // convert (the key then keeps its old files), -1 when the driver cannot
  // be used.
  int result = -1;
  // For 0: the driver's LastError, the reason, and its GetErrorMsg text.
  int64_t reason = 0;
  std::string reasonText;
  // For -1: why the driver cannot be used.
  std::string error;
};

// Runs the driver's ConvertSealFormat on device in the store directory.
Conversion convertWithDriver(const std::string& store, const std::string& device);

}  // namespace softkey_cli
