#include "codec_session.h"

#include "varo/install_root.h"
#include "varo/tool_library.h"

namespace varo::provider {

std::optional<std::string> installDirFromToolLibrary() {
  return homeDirFromToolLibrary(300);
}

std::string codecLibraryPath(const std::string& homeDir) {
  std::string path = homeDir + kCodecLibraryPath;
  if (path.size() > kMaxCodecPathLength) return std::string();
  return path;
}

CodecSession::CodecSession(const std::string& homeDir)
    : lib_(codecLibraryPath(homeDir)), codec_(lib_) {}

void CodecSession::close() {
  codec_.release();
  lib_.unload();
}

}  // namespace varo::provider
