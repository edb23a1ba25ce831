#include "varo/temp_key_store.h"

#include <stdlib.h>

namespace varo::testing {

TempKeyStore::TempKeyStore(const std::string& prefix) : dir_(prefix), store_(dir_.path()) {
  if (ok()) setenv("VARO_SOFTKEY_DIR", dir_.path().c_str(), 1);
}

TempKeyStore::~TempKeyStore() {
  unsetenv("VARO_SOFTKEY_DIR");
}

}  // namespace varo::testing
