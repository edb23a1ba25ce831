// Putting a seal on a software key: in the old three-file form, or through
// the installed key driver as the seal record its conversions give.
#pragma once

#include <string>

#include "varo/sealmaker.h"

namespace sealmaker_cli {

// keyStore empty: $VARO_SOFTKEY_DIR, else the installed default store.
// Both return the command's exit status and report on stdout and stderr.
int storeOldForm(const std::string& device, const std::string& keyStore,
                 const varo::sealmaker::Bytes& seal);
int storeThroughDriver(const std::string& device, const std::string& keyStore,
                       const varo::sealmaker::Bytes& seal);

}  // namespace sealmaker_cli
