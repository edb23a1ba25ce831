// A software key store of the test's own: a fresh directory under /tmp that
// the key library uses as its store (VARO_SOFTKEY_DIR) while the object
// lives, removed with its keys at the end.
#pragma once

#include <string>

#include "varo/softkey_admin.h"
#include "varo/tmp_files.h"

namespace varo::testing {

class TempKeyStore {
 public:
  explicit TempKeyStore(const std::string& prefix = "varo-keys");
  ~TempKeyStore();
  TempKeyStore(const TempKeyStore&) = delete;
  TempKeyStore& operator=(const TempKeyStore&) = delete;

  bool ok() const { return dir_.ok(); }
  const std::string& directory() const { return dir_.path(); }
  softkey::SoftKeyStore& store() { return store_; }
  softkey::SoftKeyStore* operator->() { return &store_; }

 private:
  TempDir dir_;
  softkey::SoftKeyStore store_;
};

}  // namespace varo::testing
