#include "varo/directory_trust.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace varo {

int openDirectoryNoFollow(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string distrust(const struct stat& st, DirectoryTrust rule) {
  if (!S_ISDIR(st.st_mode)) return "is not a directory";
  switch (rule) {
    case DirectoryTrust::Shared:
      if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return "is writable by every user and not sticky";
      return "";
    case DirectoryTrust::Private: {
      const uid_t self = ::geteuid();
      if (st.st_uid != self && st.st_uid != 0)
        return "belongs to uid " + std::to_string(st.st_uid) + ", neither to uid " +
               std::to_string(self) + " nor to root";
      if (st.st_mode & (S_IWGRP | S_IWOTH)) return "is writable by others than its owner";
      return "";
    }
  }
  return "is judged by an unknown rule";
}

int openTrustedDirectory(const char* path, DirectoryTrust rule) {
  const int fd = openDirectoryNoFollow(path);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !distrust(st, rule).empty()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace varo
