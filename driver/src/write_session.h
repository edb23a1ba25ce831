// The start of every write to one key: the connection, the key's lock for
// the whole write, and its first application, in that order, all closed in
// reverse when the session ends.
#pragma once

#include <QString>

#include <optional>
#include <string>

#include "key_access.h"
#include "key_lock.h"

namespace gm3000 {

class WriteSession {
 public:
  enum class Step { Connect, Lock, EnumerateApplication, OpenApplication };

  explicit WriteSession(const skf::Api& api) : api_(api), key_(api) {}

  // SAR_OK when the key is connected, locked and its application open;
  // otherwise the code of the step that failed, and *failed names it.
  skf::ULONG open(const std::string& device, Step* failed);

  OpenKey& key() { return key_; }
  skf::HANDLE application() const { return key_.application(); }
  const QString& serial() const { return serial_; }

 private:
  const skf::Api& api_;
  OpenKey key_;
  std::optional<KeyLock> lock_;  // released before the key is closed
  QString serial_;
};

}  // namespace gm3000
