// A private directory of one fuzz target: made once under /tmp, emptied
// between inputs when the target wants, and removed with all it holds when
// the process ends (the object is meant to be a function-local static). A
// run that crashed ends without its destructors; the directories such runs
// left behind (their process is gone) are removed by the next one.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <string>
#include <system_error>

namespace varo::fuzz {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    removeAbandoned(prefix);
    std::string pattern = "/tmp/" + prefix + "-" + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Removes everything inside, keeping the directory itself.
  void clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
      std::filesystem::remove_all(entry.path(), ec);
  }
  bool empty() const {
    std::error_code ec;
    return std::filesystem::is_empty(path_, ec);
  }

 private:
  // "/tmp/<prefix>-<pid>-XXXXXX" of this user whose process no longer runs.
  static void removeAbandoned(const std::string& prefix) {
    std::error_code ec;
    const std::string start = prefix + "-";
    for (const auto& entry : std::filesystem::directory_iterator("/tmp", ec)) {
      const std::string name = entry.path().filename();
      if (name.compare(0, start.size(), start) != 0) continue;
      char* end = nullptr;
      const long pid = std::strtol(name.c_str() + start.size(), &end, 10);
      if (pid <= 0 || *end != '-' || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
      std::filesystem::remove_all(entry.path(), ec);
    }
  }

  std::string path_;
};

}  // namespace varo::fuzz
