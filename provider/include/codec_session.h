// The codec loading sequence every flow of the provider shares:
//   1-2. the installation directory from the tool library's GetHomeDir (the
//        tool library is loaded and unloaded again right there);
//   3-4. the codec library by its absolute path below that directory and one
//        codec object from its getObj, handed back to its freeObj before the
//        library is unloaded.
// The two halves are separate calls so that a flow can write its checkpoint
// markers between them. A library that loads but lacks getObj or freeObj
// counts as not loaded; the flows answer kLibraryMissing for either half.
#pragma once

#include <optional>
#include <string>

#include "BasicSealInfo.h"
#include "oes_codes.h"
#include "varo/loaded_library.h"

namespace varo::provider {

using oes::kLibraryMissing;

// Longest codec path accepted, in characters.
inline constexpr size_t kMaxCodecPathLength = 299;

// Steps 1 and 2: the installation directory the tool library reports, or
// nullopt when the tool library does not load (or lacks its factories).
std::optional<std::string> installDirFromToolLibrary();

// The codec's absolute path below homeDir; empty when it would be longer
// than kMaxCodecPathLength.
std::string codecLibraryPath(const std::string& homeDir);

// Steps 3 and 4. The object is released and the library unloaded by close()
// or at the end of the scope, in that order.
class CodecSession {
 public:
  explicit CodecSession(const std::string& homeDir);
  ~CodecSession() { close(); }
  CodecSession(const CodecSession&) = delete;
  CodecSession& operator=(const CodecSession&) = delete;

  // True when the library loaded and its getObj gave an object.
  bool isLoaded() const { return codec_.get() != nullptr; }
  BasicSealInfo* get() const { return codec_.get(); }
  BasicSealInfo* operator->() const { return codec_.get(); }

  // Releases the object and unloads the library (idempotent).
  void close();

 private:
  LoadedLibrary lib_;  // declared first: outlives the object
  PluginObject<BasicSealInfo> codec_;
};

}  // namespace varo::provider
