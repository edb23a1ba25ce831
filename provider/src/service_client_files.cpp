#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "varo/unique_fd.h"

#include <cerrno>
#include <cstring>

#include "mySM3.h"
#include "oes_helpers.h"
#include "service_files.h"

namespace varo::service {

namespace {

using Fd = varo::UniqueFd;

// A file the service left for this user: a regular file with one link that
// belongs to the calling user or to root. Anything else under the name (a
// link, a FIFO, another user's file planted in /tmp) is not the service's.
bool isServiceFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_uid == ::geteuid() || st.st_uid == 0);
}

}  // namespace

std::optional<std::string> readServiceFile(const std::string& path, size_t limit) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (fd.get() < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !isServiceFile(st)) return std::nullopt;
  std::string content(limit, '\0');
  size_t used = 0;
  while (used < limit) {
    ssize_t n = ::read(fd.get(), &content[used], limit - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += size_t(n);
  }
  content.resize(used);
  return content;
}

bool serviceFileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && isServiceFile(st);
}

std::optional<std::string> sealFileId(const unsigned char* sealId, int length) {
  // Stops at the first "@", at the given length or at the text's zero byte,
  // whichever comes first, so a length past the text reads nothing more.
  std::string text;
  for (int i = 0; sealId && i < length && sealId[i] != '@' && sealId[i] != 0; ++i) {
    if (text.size() == kMaxSealFileIdLength) return std::nullopt;
    text.push_back(char(sealId[i]));
  }
  if (text.empty() || text.find('/') != std::string::npos || text == "." || text == "..")
    return std::nullopt;
  return text;
}

std::string sealFilePath(const std::string& identifier) {
  return "/tmp/" + identifier + ".seal";
}

std::string pictureFilePath(ByteSpan seal, unsigned char* digest) {
  unsigned char hash[32] = {};
  int hashLength = 0;
  mySM3::getsm3DigestWithoutCert(seal.data(), seal.size(), hash, &hashLength);
  char text[65] = {};  // at most two characters per byte, zero-filled
  HexToString(hash, sizeof hash, text);
  if (digest) std::memcpy(digest, hash, sizeof hash);
  return std::string("/tmp/") + text + ".pic";
}

}  // namespace varo::service
