// The installed key driver's conversion of a key whose seal is in the old
// three-file form into a key with a seal index, run on a software key.
#pragma once

#include <string>

namespace softkey_cli {

// Runs the driver's ConvertSealFormat on device in the store directory.
// 1 when the seal was written to the key, 0 when the driver did not convert
// (the key is then unchanged), -1 when the driver cannot be loaded; *error
// says why for -1.
int convertWithDriver(const std::string& store, const std::string& device, std::string* error);

}  // namespace softkey_cli
