// The exclusive lock of one key, held for the whole span of every
// read-modify-write of its files (a seal write, a conversion on the key, the
// local conversion's writes), so that two writers never both read the old
// index and one of them loses the other's seal.
//
// Across processes the lock is the vendor library's SKF_LockDev on the
// connection the operation works through (released with SKF_UnlockDev); a
// library without it (or one that answers "not supported") gets an advisory
// lock of the file sealData/<serial>.lock instead. Within a process, a second
// thread locking the same key waits, and the same thread locking it again
// nests (the cross-process lock is taken once).
#pragma once

#include <QString>

#include <string>

#include "key_access.h"

namespace gm3000 {

// How long a writer waits for another writer of the same key. A write of a
// large seal on a real key takes several seconds.
inline constexpr skf::ULONG kKeyLockTimeoutMs = 30000;

class KeyLock {
 public:
  // Locks the key named device, connected in key; serial names the lock
  // file where the library has no lock of its own.
  KeyLock(const skf::Api& api, OpenKey& key, const std::string& device, const QString& serial,
          skf::ULONG timeoutMs = kKeyLockTimeoutMs);
  ~KeyLock();
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;

  // SAR_OK when the lock is held; SAR_TIMEOUTERR when another writer held
  // it for the whole timeout, or the code SKF_LockDev answered.
  skf::ULONG result() const { return result_; }

 private:
  const skf::Api& api_;
  OpenKey& key_;
  std::string device_;
  skf::ULONG result_ = skf::SAR_OK;
  bool processLocked_ = false;  // this object holds the in-process part
  bool deviceLocked_ = false;   // SKF_LockDev taken
  int lockFile_ = -1;           // flock'ed lock file
};

}  // namespace gm3000
