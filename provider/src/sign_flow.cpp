#include "sign_flow.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "oes_helpers.h"
#include "pin_handover.h"

namespace varo::provider::signing {

namespace {

constexpr size_t kSealIdBuffer = kMaxSealIdLength + 1;
constexpr size_t kKeyLocatorBuffer = kMaxKeyLocatorLength + 1;
constexpr size_t kShortestPinReply = 5;

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The real path of an existing regular file, or nullopt.
std::optional<std::string> realFile(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  struct stat st {};
  if (::stat(real.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return std::string(real.get());
}

bool isLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isInside(const std::string& path, const std::string& directory) {
  if (directory == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > directory.size() + 1 && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size()] == '/';
}

}  // namespace

std::optional<SealIdFields> parseSealId(ByteSpan sealId) {
  if (sealId.empty() || sealId.size() > kMaxSealIdLength) return std::nullopt;
  char text[kSealIdBuffer] = {};
  std::memcpy(text, sealId.data(), sealId.size());
  char* fields[kSplitMaxParts] = {};
  int count = 0;
  split(text, "@", fields, &count, kSplitMaxParts);
  if (count < 3) return std::nullopt;

  SealIdFields out;
  out.sealIdentifier = fields[0];
  out.keyLocator = fields[1];
  out.module = fields[2];
  if (out.keyLocator.size() > kMaxKeyLocatorLength) return std::nullopt;

  if (contains(out.keyLocator, "&")) {
    char locator[kKeyLocatorBuffer] = {};
    std::memcpy(locator, out.keyLocator.data(), out.keyLocator.size());
    char* pieces[kSplitMaxPartsAmpersand] = {};
    int pieceCount = 0;
    split(locator, "&", pieces, &pieceCount, kSplitMaxPartsAmpersand);
    // "LM_GM3000&" or "&KEY01" leave no second piece: no device name.
    if (pieceCount >= 2) out.deviceName = std::string(pieces[1]);
  }
  return out;
}

int pinFromReply(std::string_view reply, SecretText* pin) {
  if (contains(reply, "USERCANCELED")) return kCancelled;
  if (reply.size() <= kShortestPinReply) return kBadPin;
  const size_t at = reply.find("PIN");
  const size_t end = reply.find("\"}");
  if (at == std::string_view::npos || end == std::string_view::npos) return kBadPin;
  // The PIN starts after "PIN" and the three characters "\":\"".
  const size_t start = at + 6;
  if (end < start) return kBadPin;
  std::string_view value = reply.substr(start, end - start);
  if (value.size() > pin::kMaxPinLength) return kBadPin;
  pin->assign(value);
  return kOk;
}

std::optional<std::string> signingModulePath(const std::string& homeDir,
                                             const std::string& moduleField) {
  std::string path = homeDir + moduleField;
  if (!contains(path, "TokenSign") || path.size() > kMaxModulePathLength) return std::nullopt;
  if (!contains(path, ".dll") && !contains(path, ".so")) path += ".so";
  return path;
}

int locateSigningModule(const std::string& path, const std::string& root, std::string* resolved) {
  const size_t slash = path.rfind('/');
  const std::string prefixed = slash == std::string::npos
                                   ? "lib" + path
                                   : path.substr(0, slash + 1) + "lib" + path.substr(slash + 1);
  std::unique_ptr<char, decltype(&std::free)> realRoot(::realpath(root.c_str(), nullptr),
                                                       &std::free);
  if (!realRoot) return kSignFailed;
  std::optional<std::string> file = realFile(path);
  if (!file) file = realFile(prefixed);
  if (!file) {
    // Nothing to load, but an escape is still told apart from a missing
    // file: a path that climbs out of the root, or a link that leads
    // nowhere, is refused as such.
    const std::string normal = std::filesystem::path(path).lexically_normal().string();
    const std::string normalRoot = std::filesystem::path(root).lexically_normal().string();
    const bool inside = isInside(normal, normalRoot) || isInside(normal, realRoot.get());
    return inside && !isLink(path) && !isLink(prefixed) ? kLibraryMissing : kSignFailed;
  }
  if (!isInside(*file, realRoot.get())) return kSignFailed;
  *resolved = *file;
  return kOk;
}

SignDataOutcome mapSignDataResult(int r) {
  if (r == 0) return {kOk, nullptr};
  if (r == 1) return {kCertNotOnKey, "INOES_Sign17"};
  if (r == 4) return {kLibraryMissing, "INOES_Sign18"};
  if (r >= 5 && r <= 9) return {kPinOrDevice, "INOES_Sign19"};
  return {kSignFailed, "INOES_Sign20"};
}

}  // namespace varo::provider::signing
