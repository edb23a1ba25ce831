#include "varo/loaded_library.h"

namespace varo {

LoadedLibrary::LoadedLibrary(const std::string& path) : lib_(QString::fromLocal8Bit(path.c_str())) {
  // Resolve every symbol at load time so that a broken library fails here and
  // not in the middle of an operation; keep its symbols out of the global
  // namespace so that two libraries exporting the same names do not mix.
  lib_.setLoadHints(QLibrary::ResolveAllSymbolsHint);
  loaded_ = !path.empty() && lib_.load();
}

LoadedLibrary::~LoadedLibrary() {
  unload();
}

void LoadedLibrary::unload() {
  if (loaded_) lib_.unload();
  loaded_ = false;
}

}  // namespace varo
