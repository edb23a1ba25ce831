// An OFD package: the ZIP file that holds a document's XML and resources.
// Opening checks every entry before anything is read: names that could
// leave the package or mean two things, and sizes beyond the limits, make
// the whole package refused. Writing makes a new package beside the
// output, with every entry that is not replaced copied as it was stored.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varo::ofd {

struct PackageLimits {
  size_t maxEntries = 10000;
  uint64_t maxEntrySize = uint64_t(256) << 20;  // uncompressed
  uint64_t maxTotalSize = uint64_t(1) << 30;    // uncompressed, all entries
  uint64_t maxRatio = 200;  // uncompressed / compressed, for entries above 1 MiB
};

struct PackageEntry {
  std::string name;  // as stored, "/" separated, no leading "/"
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  bool directory = false;  // the name ends with "/"
};

class Package {
 public:
  // nullopt with *why when the file is no ZIP, or an entry is refused.
  static std::optional<Package> open(const std::string& path, std::string* why,
                                     const PackageLimits& limits = PackageLimits());
  Package(Package&&) noexcept;
  Package& operator=(Package&&) noexcept;
  ~Package();

  const std::vector<PackageEntry>& entries() const { return entries_; }
  // The entry's index, or nullopt; directories are not files.
  std::optional<size_t> file(const std::string& name) const;
  // The bytes of the file entry; nullopt with *why when it is missing or
  // its content does not read back as its size and checksum say.
  std::optional<QByteArray> read(const std::string& name, std::string* why) const;

  // Writes a new package to out: the entries of this one in their order,
  // each one named in changes with its new bytes, the others copied as
  // stored; then the changes that name no entry, in name order. The output
  // is written to a temporary file beside out, synced and renamed over out,
  // so out is replaced only on success and the input is never touched.
  bool writeWith(const std::string& out, const std::map<std::string, QByteArray>& changes,
                 std::string* why) const;

 private:
  struct Archive;
  Package() = default;
  std::unique_ptr<Archive> archive_;
  std::vector<PackageEntry> entries_;
  PackageLimits limits_;
};

// Whether a stored name may stand in a package: not empty, no leading "/",
// no "\", no control character, no empty (except a directory's final one),
// "." or ".." segment.
bool isSafeEntryName(const std::string& name);

// Writes a new package of exactly these files, in name order.
bool writePackage(const std::string& out, const std::map<std::string, QByteArray>& files,
                  std::string* why);

}  // namespace varo::ofd
