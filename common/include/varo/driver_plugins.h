// The key device driver plug-ins of a directory: the entries whose name
// contains "VaroDeviceBase_" anywhere (case-sensitive) and that are regular
// files or symbolic links to regular files. Directories, devices, sockets and
// dangling links are left out, and so is every entry whose path (directory +
// name) would be longer than the caller's limit: such a path is skipped, never
// cut to a shorter one that could name another file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace varo {

// The text every driver plug-in's file name contains.
inline constexpr const char* kDriverNameMark = "VaroDeviceBase_";

enum class DriverOrder {
  FileSystem,        // the order in which the directory lists its entries
  NameIgnoringCase,  // by name, ASCII letters compared without case
};

struct DriverListing {
  DriverOrder order = DriverOrder::FileSystem;
  size_t maxPathLength = 299;  // in bytes; longer paths are skipped
  bool includeHidden = true;   // names starting with "."
};

// The paths (directory + name) of the driver plug-ins in directory, which
// may end with "/" or not, in the requested order. nullopt when the
// directory does not exist or cannot be listed.
std::optional<std::vector<std::string>> listDriverPlugins(const std::string& directory,
                                                          const DriverListing& listing = {});

}  // namespace varo
