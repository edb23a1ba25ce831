#include "output_files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace signd {

std::string sealFilePath(const std::string& identifier) {
  return "/tmp/" + identifier + ".seal";
}

std::string pictureFilePath(const std::string& digestText) {
  return "/tmp/" + digestText + ".pic";
}

std::string digestText(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sm3(), nullptr)) return {};
  std::string text;
  char hex[4];
  for (unsigned int i = 0; i < n; ++i) {
    std::snprintf(hex, sizeof(hex), "%x", digest[i]);
    text += hex;
  }
  return text;
}

std::string pictureRecord(int32_t width, int32_t height, const std::string& picture) {
  std::string record;
  for (int64_t v : {int64_t{width}, int64_t{height}})
    for (int i = 0; i < 8; ++i)
      record.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xff));
  return record + picture;
}

bool replaceFile(const std::string& path, const std::string& content) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  std::string temp = path.substr(0, slash + 1) + ".varo-signd.XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0;
  for (size_t done = 0; ok && done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(name.data(), path.c_str()) == 0;
  if (!ok) ::unlink(name.data());
  return ok;
}

}  // namespace signd
