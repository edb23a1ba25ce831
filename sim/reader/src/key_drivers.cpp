#include "key_drivers.h"

#include <limits.h>

#include <QFileInfo>
#include <QStringList>

#include <cstring>
#include <vector>

#include "VaroDeviceBase.h"
#include "reader.h"
#include "varo/driver_plugins.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"

namespace reader {

namespace {

// The driver codes a seal list can end in that the reader explains itself
// (the driver has no text for the last two).
constexpr int kNoDevice = 0x1001;
constexpr int kLibraryFailed = 0x1013;
constexpr int kEmptyIndex = 0x104;
// GetErrorMsg writes at most 42 bytes and the terminator.
constexpr size_t kTextCapacity = 1024;

QString shown(const std::string& path) {
  return QString::fromLocal8Bit(path.c_str());
}

// Why a library did not load: a missing file is told as such (the loader's
// message would name the last of the variants it tried).
QString loadProblem(const std::string& path, const varo::LoadedLibrary& library) {
  if (!QFileInfo::exists(shown(path))) return shown(path) + " is missing";
  return shown(path) + " does not load: " + QString::fromStdString(library.errorString());
}

QString textOf(VaroDeviceBase& driver, int code) {
  std::vector<char> text(kTextCapacity, 0);
  driver.GetErrorMsg(code, text.data());
  return QString::fromUtf8(text.data(), int(strnlen(text.data(), text.size())));
}

// Why a driver answers 0x1013: the key library does not load, or lacks a
// function.
QString keyLibraryProblem() {
  const std::string path = std::string(varo::kInstallRoot) + varo::kVendorKeyLibraryPath;
  varo::LoadedLibrary library(path);
  if (!library.isLoaded()) return "the key library " + loadProblem(path, library);
  return "the key library " + shown(path) + " lacks an SKF function the driver needs";
}

EmptyListCause askDriver(const std::string& path) {
  const QString name = QFileInfo(shown(path)).fileName();
  varo::LoadedLibrary library(path);
  if (!library.isLoaded())
    return {EmptyList::LibraryFailed, "the driver " + loadProblem(path, library)};
  varo::PluginObject<VaroDeviceBase> driver(library);
  if (!driver) return {EmptyList::LibraryFailed, "the driver " + shown(path) + " makes no object"};
  // The measuring call: the list's size only, nothing written.
  int length = 0;
  const int rc = driver->ReadSealList(nullptr, &length);
  switch (rc) {
    case 0:
      return {EmptyList::SealsListed, name + " lists seals"};
    case kNoDevice:
      return {EmptyList::NoKey, name + ": no key is attached"};
    case kLibraryFailed:
      return {EmptyList::LibraryFailed, name + ": " + keyLibraryProblem()};
    case kEmptyIndex:
      return {EmptyList::KeysWithoutSeal, name + ": the attached keys hold no seal (" +
                                              codeText(unsigned(rc)) + ", an empty seal index)"};
    default: {
      const QString text = textOf(*driver.get(), rc);
      return {EmptyList::KeysWithoutSeal, name + ": no attached key gives a seal (" +
                                              codeText(unsigned(rc)) +
                                              (text.isEmpty() ? QString() : " " + text) +
                                              "); the client log names each key left out and why"};
    }
  }
}

}  // namespace

std::string installedDriverPath() {
  return std::string(varo::kInstallRoot) + varo::kDriverDirectory +
         "libVaroDeviceBase_LM_GM3000.so";
}

std::optional<QString> driverText(unsigned long code, QString* why) {
  const std::string path = installedDriverPath();
  varo::LoadedLibrary library(path);
  varo::PluginObject<VaroDeviceBase> driver(library);
  if (!driver) {
    *why = library.isLoaded() ? "the driver " + shown(path) + " makes no object"
                              : "the driver " + loadProblem(path, library);
    return std::nullopt;
  }
  // The driver's codes are ints; a larger number is none of them.
  if (code > static_cast<unsigned long>(INT_MAX)) return QString();
  return textOf(*driver.get(), static_cast<int>(code));
}

int reportEmptyList(Context& ctx, bool fromService) {
  const EmptyListCause cause = emptyListCause();
  switch (cause.kind) {
    case EmptyList::LibraryFailed:
      ctx.out.error("no seal listed: a library does not load");
      ctx.out.cause(cause.text);
      return kNoProvider;
    case EmptyList::SealsListed:
      ctx.out.cause(fromService ? "the service listed no seal, but the drivers list seals for this "
                                  "user: the service sees other keys (VARO_SOFTKEY_DIR for the "
                                  "software key) or left them out (its log says why)"
                                : "the keys changed meanwhile: " + cause.text);
      return kSuccess;
    case EmptyList::KeysWithoutSeal:
    case EmptyList::NoKey:
      ctx.out.cause(cause.text);
      return kSuccess;
  }
  return kSuccess;
}

EmptyListCause emptyListCause() {
  const std::string directory = std::string(varo::kInstallRoot) + varo::kDriverDirectory;
  varo::DriverListing listing;
  listing.order = varo::DriverOrder::NameIgnoringCase;
  listing.includeHidden = false;
  listing.maxPathLength = PATH_MAX;
  const auto drivers = varo::listDriverPlugins(directory, listing);
  if (!drivers)
    return {EmptyList::LibraryFailed, "the driver directory " + shown(directory) + " is missing"};
  if (drivers->empty())
    return {EmptyList::LibraryFailed, "no key driver is installed in " + shown(directory)};
  EmptyListCause cause{EmptyList::NoKey, QString()};
  QStringList parts;
  for (const std::string& path : *drivers) {
    const EmptyListCause one = askDriver(path);
    if (one.kind < cause.kind) cause.kind = one.kind;
    parts << one.text;
  }
  cause.text = parts.join("; ");
  return cause;
}

}  // namespace reader
