#include "varo/driver_plugins.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace varo {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Case-blind order; names equal but for case keep a fixed order by their bytes.
bool lessIgnoringCase(const std::string& a, const std::string& b) {
  auto lower = [](char x, char y) { return asciiLower(x) < asciiLower(y); };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lower)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lower)) return false;
  return a < b;
}

// A regular file, directly or at the end of its symbolic links.
bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::optional<std::vector<std::string>> listDriverPlugins(const std::string& directory,
                                                          const DriverListing& listing) {
  DirPtr dir(directory.empty() ? nullptr : opendir(directory.c_str()));
  if (!dir) return std::nullopt;
  const std::string prefix = directory.back() == '/' ? directory : directory + "/";

  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.find(kDriverNameMark) == std::string::npos) continue;
    if (!listing.includeHidden && name[0] == '.') continue;
    if (prefix.size() + name.size() > listing.maxPathLength) continue;
    if (!isRegularFile(prefix + name)) continue;
    names.push_back(name);
  }
  if (listing.order == DriverOrder::NameIgnoringCase)
    std::sort(names.begin(), names.end(), lessIgnoringCase);

  std::vector<std::string> paths;
  paths.reserve(names.size());
  for (const std::string& name : names) paths.push_back(prefix + name);
  return paths;
}

}  // namespace varo
