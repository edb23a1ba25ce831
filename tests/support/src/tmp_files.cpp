#include "varo/tmp_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "varo/install_root.h"

namespace varo::testing {

namespace {

std::set<std::string> listDirectory(const char* path) {
  std::set<std::string> names;
  if (DIR* dir = ::opendir(path)) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(dir);
  }
  return names;
}

void putLe64(std::string* out, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out->push_back(char((u >> (8 * i)) & 0xFF));
  out->append(4, '\0');
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (ok()) std::filesystem::remove_all(path_, ignored);
}

TmpFiles::~TmpFiles() {
  removeAll();
}

bool TmpFiles::write(const std::string& path, ByteSpan content) {
  paths_.push_back(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
  return bool(out);
}

void TmpFiles::track(const std::string& path) {
  paths_.push_back(path);
  std::remove(path.c_str());
}

void TmpFiles::removeAll() {
  for (const std::string& p : paths_) std::remove(p.c_str());
  paths_.clear();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string pictureRecord(int32_t width, int32_t height, const std::string& picture) {
  std::string record;
  putLe64(&record, width);
  putLe64(&record, height);
  return record + picture;
}

std::string pictureDigestText(ByteSpan seal) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(seal.data(), seal.size(), digest, &n, EVP_sm3(), nullptr);
  std::string text;
  char piece[3];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(piece, sizeof piece, "%x", digest[i]);
    text += piece;
  }
  return text;
}

TraceDir::TraceDir() {
  struct stat st;
  if (::lstat(kPath, &st) != 0) created_ = ::mkdir(kPath, 0700) == 0;
  before_ = listDirectory(kPath);
  ::clock_gettime(CLOCK_REALTIME_COARSE, &since_);
}

TraceDir::~TraceDir() {
  clear();
  if (created_) ::rmdir(kPath);
}

bool TraceDir::has(const std::string& name) const {
  struct stat st;
  if (::stat((std::string(kPath) + "/" + name).c_str(), &st) != 0) return false;
  const timespec& m = st.st_mtim;
  return m.tv_sec > since_.tv_sec || (m.tv_sec == since_.tv_sec && m.tv_nsec >= since_.tv_nsec);
}

std::string TraceDir::read(const std::string& name) const {
  return readFile(std::string(kPath) + "/" + name);
}

std::vector<std::string> TraceDir::written() const {
  std::vector<std::string> names;
  for (const std::string& name : listDirectory(kPath))
    if (has(name)) names.push_back(name);
  return names;
}

void TraceDir::clear() {
  for (const std::string& name : listDirectory(kPath))
    if (!before_.count(name)) std::remove((std::string(kPath) + "/" + name).c_str());
  ::clock_gettime(CLOCK_REALTIME_COARSE, &since_);
}

MovedAside::MovedAside(const std::string& relativePath)
    : path_(std::string(kInstallRoot) + relativePath), aside_(path_ + ".aside") {
  moved_ = std::rename(path_.c_str(), aside_.c_str()) == 0;
}

MovedAside::~MovedAside() {
  if (!moved_) return;
  ::unlink(path_.c_str());  // a replacement, if one was put there
  std::rename(aside_.c_str(), path_.c_str());
}

bool MovedAside::replaceWith(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return moved_ && in.good() && out.good();
}

std::vector<std::string> clientLogMessages(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> messages;
  const std::regex line(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\t(.*))");
  std::smatch match;
  for (std::string text; std::getline(in, text);)
    messages.push_back(std::regex_match(text, match, line) ? match[1].str()
                                                           : "(not a log line) " + text);
  return messages;
}

}  // namespace varo::testing
