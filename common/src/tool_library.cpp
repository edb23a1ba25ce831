#include "varo/tool_library.h"

#include <vector>

#include "varo/install_root.h"

namespace varo {

std::string toolLibraryPath() {
  return std::string(kInstallRoot) + kToolLibraryPath;
}

std::optional<std::string> homeDirFromToolLibrary(size_t bufferSize) {
  LoadedLibrary lib(toolLibraryPath());
  if (!lib.isLoaded()) return std::nullopt;
  PluginObject<ToolObject> tool(lib);
  if (!tool) return std::nullopt;
  std::vector<char> buffer(bufferSize + 1, 0);  // one spare zero keeps it terminated
  tool->GetHomeDir(buffer.data());
  buffer[bufferSize] = 0;
  return std::string(buffer.data());
}

}  // namespace varo
