// The store directory of software keys: one subdirectory per attached key
// (its name is the device name), detached keys below ".detached", and the
// fault rules in the file "faults". A KeySession is one locked look at a key.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "key_data.h"

namespace varo::softkey {

inline constexpr const char* kManifestName = "key.json";
inline constexpr const char* kDetachedDir = ".detached";

// A device name that can be a key directory: 1 to 64 bytes, no "/", no
// control character, not starting with ".".
bool isValidDeviceName(std::string_view name);

std::string keyDirectory(const std::string& store, const std::string& device);
std::string detachedDirectory(const std::string& store);

// Device names of the keys in dir (attached: the store; detached: its
// detached area), sorted by name.
std::vector<std::string> listKeyNames(const std::string& dir);

enum class KeyStatus { Ok, NoKey, Corrupt };

// Opens the key under its lock (shared for reading, exclusive for changing)
// and loads its manifest. The lock is held until the session is destroyed.
class KeySession {
 public:
  KeySession(const std::string& keyDir, bool exclusive);
  KeyStatus status() const { return status_; }
  bool ok() const { return status_ == KeyStatus::Ok; }
  KeyData& data() { return data_; }
  const std::string& directory() const { return dir_; }

  // Writes the manifest atomically.
  bool save();
  // Blob files: a missing blob reads as empty.
  std::string readBlob(uint64_t id) const;
  bool writeBlob(uint64_t id, std::string_view bytes);
  void removeBlob(uint64_t id);

 private:
  std::string dir_;
  std::unique_ptr<FileLock> lock_;
  KeyData data_;
  KeyStatus status_ = KeyStatus::NoKey;
};

// Creates the key directory with its manifest; false when it exists or
// cannot be made.
bool createKeyDirectory(const std::string& store, const std::string& device, const KeyData& key);

// PIN hashing: a fresh random salt, and the check against a stored state.
PinState makePin(std::string_view pin, uint32_t maxRetries);
bool pinMatches(const PinState& state, std::string_view pin);

}  // namespace varo::softkey
