// Files the tests stage under /tmp (seal, picture and list files as the
// signing service leaves them) and the trace directory /tmp/varolog, each
// removed again at the end of the test.
#pragma once

#include <time.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "varo/byte_span.h"

namespace varo::testing {

// A fresh directory "/tmp/<prefix>-XXXXXX" (mode 0700), removed with all it
// holds when it goes out of scope. path() is empty when it cannot be made.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes files and removes every file it wrote or was told about when it
// goes out of scope.
class TmpFiles {
 public:
  TmpFiles() = default;
  ~TmpFiles();
  TmpFiles(const TmpFiles&) = delete;
  TmpFiles& operator=(const TmpFiles&) = delete;

  // Writes (creating or truncating) and records the path; false on failure.
  bool write(const std::string& path, ByteSpan content);
  bool write(const std::string& path, const std::string& content) {
    return write(path, ByteSpan(content));
  }
  // Records a path that something else will create; removes it now if it
  // exists, so the test starts without it.
  void track(const std::string& path);
  void removeAll();

 private:
  std::vector<std::string> paths_;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// A picture record as the service writes it: width and height as 8-byte
// little-endian fields, then the picture bytes.
std::string pictureRecord(int32_t width, int32_t height, const std::string& picture);

// The name part of a seal's picture file: the SM3 digest of the seal, each
// byte as lower-case hexadecimal without a leading zero.
std::string pictureDigestText(ByteSpan seal);

// A file of the installed tree (a path below InstallRoot, starting with
// "/") moved aside for the scope and put back at its end, whatever happens;
// replaceWith() puts a copy of another file in its place meanwhile.
class MovedAside {
 public:
  explicit MovedAside(const std::string& relativePath);
  ~MovedAside();
  MovedAside(const MovedAside&) = delete;
  MovedAside& operator=(const MovedAside&) = delete;
  bool moved() const { return moved_; }
  bool replaceWith(const std::string& file);

 private:
  std::string path_, aside_;
  bool moved_ = false;
};

// The messages of a client log ("yyyy.MM.dd hh:mm:ss<TAB>message" lines);
// a line of another form comes whole, after "(not a log line) ".
std::vector<std::string> clientLogMessages(const std::string& path);

// Keeps /tmp/varolog present for the scope: creates it when missing (and
// then removes it with its content at the end); otherwise removes at the end
// only the files that were not there at the start.
class TraceDir {
 public:
  static constexpr const char* kPath = "/tmp/varolog";
  TraceDir();
  ~TraceDir();
  TraceDir(const TraceDir&) = delete;
  TraceDir& operator=(const TraceDir&) = delete;

  // True when the file was written since the start (or the last clear).
  bool has(const std::string& name) const;
  std::string read(const std::string& name) const;
  // The names of the files written since the start (or the last clear).
  std::vector<std::string> written() const;
  // Removes every file written since the start, so a flow's markers can be
  // checked from a clean state.
  void clear();

 private:
  bool created_ = false;
  std::set<std::string> before_;
  struct timespec since_ {};
};

}  // namespace varo::testing
