// The common tool library ToolBench.so under the installation root, loaded
// for one operation: load, create the tool object, call, free, unload.
#pragma once

#include <optional>
#include <string>

#include "varo/loaded_library.h"
#include "varo/tool_object.h"

namespace varo {

// Absolute path of the tool library.
std::string toolLibraryPath();

// The installation directory as the tool library's GetHomeDir reports it
// (into a zero-filled buffer of bufferSize bytes, 300 by default), with the
// library unloaded again before returning. nullopt when the library does
// not load or lacks getObj or freeObj.
std::optional<std::string> homeDirFromToolLibrary(size_t bufferSize = 300);

}  // namespace varo
