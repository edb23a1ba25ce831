// Small POSIX file helpers of the key store: whole-file reads, atomic
// replacement (temporary file in the same directory, then rename) and an
// advisory lock held for the lifetime of an object.
#pragma once

#include <string>
#include <string_view>

namespace varo::softkey {

// Reads the whole regular file at path; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* out);

// Replaces the file at path with bytes: written to a new temporary file in the
// same directory and renamed over path, so that a reader sees either the old
// or the new content and two writers never interleave. Mode 0600.
bool writeFileAtomic(const std::string& path, std::string_view bytes);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);

// An flock(2) on a lock file, released on destruction. The lock file is
// created in an existing directory; a missing directory gives !held().
class FileLock {
 public:
  FileLock(const std::string& lockPath, bool exclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace varo::softkey
