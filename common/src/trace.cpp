#include "varo/trace.h"
#include "varo/fd_io.h"
#include "varo/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace varo::trace {

namespace {

using Fd = varo::UniqueFd;

// Writes n bytes of data, or with placeholder set and no data the ten zero
// bytes that mark a point as reached.
void writeFile(const std::string& dir, const std::string& name, const void* data, size_t n,
               bool placeholder = true) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return;
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dirFd.get() < 0) return;
  // O_NONBLOCK: a FIFO planted under the name must not block the caller.
  Fd fd(::openat(dirFd.get(), name.c_str(),
                 O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
  if (fd.get() < 0) return;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != ::geteuid())
    return;
  if (::ftruncate(fd.get(), 0) != 0) return;
  static const unsigned char kZeros[10] = {};
  if (n == 0 || data == nullptr) {
    if (placeholder) writeAll(fd.get(), kZeros, sizeof kZeros);
  } else {
    writeAll(fd.get(), data, n);
  }
}

}  // namespace

void marker(const char* name) {
  if (!name) return;
  std::string path = std::string(kDirectory) + "/" + name;
  if (path.size() > 199) return;
  writeFile(kDirectory, name, nullptr, 0);
}

namespace {

void dumpTo(const char* path, const void* data, size_t n, bool placeholder) {
  if (!path || !*path) return;
  std::string p(path);
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  writeFile(dir, p.substr(slash == std::string::npos ? 0 : slash + 1), data, n, placeholder);
}

}  // namespace

void dump(const char* path, const void* data, size_t n) {
  dumpTo(path, data, n, true);
}

void dumpExact(const char* path, const void* data, size_t n) {
  dumpTo(path, data, n, false);
}

}  // namespace varo::trace
