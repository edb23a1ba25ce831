#include "service_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace signd {
namespace {

int openLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

bool ServiceLog::usable() const {
  if (path_.empty()) return true;
  int fd = openLog(path_);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void ServiceLog::write(const std::string& text) const {
  char stamp[32] = {0};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
  // One write per line, so lines of concurrent writers never interleave.
  std::string line = std::string(stamp) + "\t" + text + "\n";
  int fd = path_.empty() ? STDERR_FILENO : openLog(path_);
  if (fd < 0) return;
  ssize_t ignored = ::write(fd, line.data(), line.size());
  (void)ignored;
  if (fd != STDERR_FILENO) ::close(fd);
}

}  // namespace signd
