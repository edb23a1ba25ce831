// The pieces of the signing flow (OES_Sign) that stand on their own: the
// seal id fields, the PIN dialog's reply, the signing module's path and the
// meaning of its results.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "oes_codes.h"
#include "varo/byte_span.h"
#include "varo/secret_text.h"

namespace varo::provider::signing {

// The flow's result codes are those of the interface.
using namespace varo::oes;

// Buffer size the first call reports, and the largest signature structure
// written into a reader's buffer whose length is not given.
inline constexpr int kSignatureBufferSize = 204800;

// Limits of a seal id text.
inline constexpr size_t kMaxSealIdLength = 1023;
inline constexpr size_t kMaxKeyLocatorLength = 99;
// Longest signing module path (installation directory + module field).
inline constexpr size_t kMaxModulePathLength = 299;

// Seal identifier "@" key type "&" device name "@" signing module file.
struct SealIdFields {
  std::string sealIdentifier;             // field 0
  std::string keyLocator;                 // field 1
  std::string module;                     // field 2
  std::optional<std::string> deviceName;  // the piece after the first "&" of field 1
};

// The fields of a seal id; nullopt when the text breaks the limits (empty,
// over 1023 bytes, fewer than three fields, a key locator over 99
// characters).
std::optional<SealIdFields> parseSealId(ByteSpan sealId);

// The PIN in a reply of the PIN dialog: kOk with *pin set, kCancelled for
// "USERCANCELED", kBadPin for a reply of 5 characters or fewer, one without
// the PIN member, or a PIN longer than the hand-over carries.
int pinFromReply(std::string_view reply, SecretText* pin);

// The signing module path for a module field: the installation directory
// followed by the field, ".so" appended when the name holds neither ".dll"
// nor ".so". nullopt when it holds no "TokenSign" or is too long.
std::optional<std::string> signingModulePath(const std::string& homeDir,
                                             const std::string& moduleField);

// The file the loader would open for path (as given, else with the "lib"
// prefix on its file name), as a real path that must lie inside the real
// path of root. kOk with *resolved set; kSignFailed when it lies outside
// root (through "..", a link or an absolute detour), also when no file is
// there but the path climbs out of root or is a link that leads nowhere;
// kLibraryMissing when there is no such regular file inside root.
int locateSigningModule(const std::string& path, const std::string& root, std::string* resolved);

// The flow's result for a SignData result (kOk to go on) and its marker.
struct SignDataOutcome {
  int result;
  const char* marker;  // null for success
};
SignDataOutcome mapSignDataResult(int signDataResult);

}  // namespace varo::provider::signing
