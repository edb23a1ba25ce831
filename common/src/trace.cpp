#include "varo/trace.h"
#include "varo/directory_trust.h"
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

bool plainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// The directory only when it is the caller's own (see DirectoryTrust).
int openDirectory(const char* dir) {
  return openTrustedDirectory(dir, DirectoryTrust::Private);
}

// Writes n bytes of data, or with placeholder set and no data the ten zero
// bytes that mark a point as reached, into the file name of the directory
// open as dirFd.
void writeAt(int dirFd, const std::string& name, const void* data, size_t n, bool placeholder) {
  // O_NONBLOCK: a FIFO planted under the name must not block the caller.
  Fd fd(::openat(dirFd, name.c_str(),
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

void writeFile(const std::string& dir, const std::string& name, const void* data, size_t n,
               bool placeholder = true) {
  if (!plainName(name)) return;
  Fd dirFd(openDirectory(dir.c_str()));
  if (dirFd.get() < 0) return;
  writeAt(dirFd.get(), name, data, n, placeholder);
}

bool markerName(const char* name) {
  return name && std::strlen(kDirectory) + 1 + std::strlen(name) <= 199 && plainName(name);
}

}  // namespace

void marker(const char* name) {
  if (!markerName(name)) return;
  writeFile(kDirectory, name, nullptr, 0);
}

bool active() {
  const Fd dir(openDirectory(kDirectory));
  return dir.get() >= 0;
}

MarkerScope::MarkerScope() : dir_(openDirectory(kDirectory)) {}

MarkerScope::~MarkerScope() {
  if (dir_ >= 0) ::close(dir_);
}

void MarkerScope::marker(const char* name) const {
  if (dir_ < 0 || !markerName(name)) return;
  writeAt(dir_, name, nullptr, 0, true);
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
