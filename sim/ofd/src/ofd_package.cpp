#include "varo/ofd_package.h"

#include "ofd_failure.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <set>

namespace varo::ofd {

namespace {

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct FileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

std::string zipError(zip_t* z) {
  return zip_strerror(z);
}

// The directory of path (".", when it names none).
std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool syncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

// A new archive at a temporary name beside out; fill() adds its entries,
// then it is written, synced and renamed over out.
template <class Fill>
bool writeAtomically(const std::string& out, std::string* why, Fill&& fill) {
  const std::string temporary = out + ".tmp-" + std::to_string(::getpid());
  int error = 0;
  ZipPtr dest(zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!dest) return fail(why, "cannot create " + temporary);
  if (!fill(dest.get())) {
    std::remove(temporary.c_str());
    return false;
  }
  if (zip_close(dest.get()) != 0) {
    const std::string text = "cannot write " + temporary + ": " + zipError(dest.get());
    std::remove(temporary.c_str());
    return fail(why, text);
  }
  dest.release();  // closed
  if (!syncFile(temporary) || std::rename(temporary.c_str(), out.c_str()) != 0) {
    std::remove(temporary.c_str());
    return fail(why, "cannot put the new package in place of " + out);
  }
  syncFile(directoryOf(out));
  return true;
}

bool addBytes(zip_t* dest, const std::string& name, const QByteArray& bytes, std::string* why) {
  zip_source_t* source = zip_source_buffer(dest, bytes.constData(), zip_uint64_t(bytes.size()), 0);
  if (!source) return fail(why, "cannot add " + name);
  if (zip_file_add(dest, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
    zip_source_free(source);
    return fail(why, "cannot add " + name + ": " + zipError(dest));
  }
  return true;
}

}  // namespace

struct Package::Archive {
  ZipPtr zip;
};

bool isSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  // A directory's name ends with "/"; every segment before is a real name.
  const std::string body = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
  size_t start = 0;
  for (;;) {
    const size_t slash = body.find('/', start);
    const std::string segment = body.substr(start, slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::optional<Package> Package::open(const std::string& path, std::string* why,
                                     const PackageLimits& limits) {
  int error = 0;
  ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!zip) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    fail(why, path + " is not a ZIP package: " + zip_error_strerror(&e));
    zip_error_fini(&e);
    return std::nullopt;
  }
  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  if (count < 0 || uint64_t(count) > limits.maxEntries) {
    fail(why, path + " holds more than " + std::to_string(limits.maxEntries) + " entries");
    return std::nullopt;
  }
  Package package;
  package.limits_ = limits;
  std::set<std::string> names, directories;
  uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(zip.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
      fail(why, path + ": entry " + std::to_string(i) + " cannot be read");
      return std::nullopt;
    }
    PackageEntry entry;
    entry.name = st.name;
    entry.size = st.size;
    entry.compressedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : st.size;
    entry.directory = !entry.name.empty() && entry.name.back() == '/';
    const std::string shown = "\"" + entry.name + "\"";
    if (!isSafeEntryName(entry.name)) {
      fail(why, path + ": the entry name " + shown + " could point outside the package");
      return std::nullopt;
    }
    const std::string key =
        entry.directory ? entry.name.substr(0, entry.name.size() - 1) : entry.name;
    if (!names.insert(key).second) {
      fail(why, path + ": the entry " + shown + " is there twice, or as a file and a directory");
      return std::nullopt;
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
      fail(why, path + ": the entry " + shown + " is encrypted");
      return std::nullopt;
    }
    total += entry.size;
    if (entry.size > limits.maxEntrySize || total > limits.maxTotalSize ||
        (entry.size > (1u << 20) && entry.size / (entry.compressedSize + 1) > limits.maxRatio)) {
      fail(why, path + ": the entry " + shown + " unpacks to more than the limits allow");
      return std::nullopt;
    }
    package.entries_.push_back(std::move(entry));
  }
  // A file may not stand where another entry needs a directory.
  for (const std::string& name : names)
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      if (package.file(name.substr(0, slash))) {
        fail(why, path + ": the file \"" + name.substr(0, slash) + "\" stands where \"" + name +
                      "\" needs a directory");
        return std::nullopt;
      }
  package.archive_ = std::make_unique<Archive>();
  package.archive_->zip = std::move(zip);
  return package;
}

Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;
Package::~Package() = default;

std::optional<size_t> Package::file(const std::string& name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!entries_[i].directory && entries_[i].name == name) return i;
  return std::nullopt;
}

std::optional<QByteArray> Package::read(const std::string& name, std::string* why) const {
  const auto index = file(name);
  if (!index) {
    fail(why, "the package has no file \"" + name + "\"");
    return std::nullopt;
  }
  const uint64_t size = entries_[*index].size;
  // The bytes go into one QByteArray, whose size is an int.
  if (size >= uint64_t(INT32_MAX)) {
    fail(why, "\"" + name + "\" is too large to be read");
    return std::nullopt;
  }
  std::unique_ptr<zip_file_t, FileCloser> f(
      zip_fopen_index(archive_->zip.get(), zip_uint64_t(*index), 0));
  if (!f) {
    fail(why, "cannot open \"" + name + "\": " + zipError(archive_->zip.get()));
    return std::nullopt;
  }
  // One byte more than the stored size shows an entry that unpacks to more.
  QByteArray bytes(int(size + 1), '\0');
  uint64_t got = 0;
  while (got < size + 1) {
    const zip_int64_t n = zip_fread(f.get(), bytes.data() + got, size + 1 - got);
    if (n < 0) {
      fail(why, "\"" + name + "\" does not unpack: " + zip_file_strerror(f.get()));
      return std::nullopt;
    }
    if (n == 0) break;
    got += uint64_t(n);
  }
  if (got != size) {
    fail(why, "\"" + name + "\" does not unpack to its stated size");
    return std::nullopt;
  }
  bytes.resize(int(size));
  return bytes;
}

bool Package::writeWith(const std::string& out, const std::map<std::string, QByteArray>& changes,
                        std::string* why) const {
  for (const auto& change : changes)
    if (!isSafeEntryName(change.first) || change.first.back() == '/')
      return fail(why, "\"" + change.first + "\" cannot name a file of a package");
  return writeAtomically(out, why, [&](zip_t* dest) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      const PackageEntry& entry = entries_[i];
      const auto change = changes.find(entry.name);
      if (change != changes.end()) {
        if (!addBytes(dest, entry.name, change->second, why)) return false;
        continue;
      }
      if (entry.directory) {
        if (zip_dir_add(dest, entry.name.c_str(), ZIP_FL_ENC_UTF_8) < 0)
          return fail(why, "cannot add " + entry.name + ": " + zipError(dest));
        continue;
      }
      // The whole entry from the source: its stored data is copied as it is.
      zip_source_t* source = zip_source_zip(dest, archive_->zip.get(), zip_uint64_t(i), 0, 0, -1);
      if (!source || zip_file_add(dest, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source) zip_source_free(source);
        return fail(why, "cannot copy " + entry.name + ": " + zipError(dest));
      }
    }
    for (const auto& [name, bytes] : changes)
      if (!file(name) && !addBytes(dest, name, bytes, why)) return false;
    return true;
  });
}

bool writePackage(const std::string& out, const std::map<std::string, QByteArray>& files,
                  std::string* why) {
  for (const auto& f : files)
    if (!isSafeEntryName(f.first) || f.first.back() == '/')
      return fail(why, "\"" + f.first + "\" cannot name a file of a package");
  return writeAtomically(out, why, [&](zip_t* dest) {
    for (const auto& [name, bytes] : files)
      if (!addBytes(dest, name, bytes, why)) return false;
    return true;
  });
}

}  // namespace varo::ofd
