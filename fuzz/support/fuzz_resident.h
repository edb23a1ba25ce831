// Keeps installed libraries mapped for the whole run. The code under test
// loads and unloads libraries of the installed tree on every call; libFuzzer
// keeps reading the coverage counters of every instrumented library it has
// seen, so one that is really unmapped would make it read freed memory. A
// reference taken here (never given back) leaves each library's own
// load/unload sequence as it is, only without the unmapping.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "varo/install_root.h"

namespace varo::fuzz {

// Paths below the installation root, starting with "/".
inline void keepResident(std::initializer_list<const char*> relativePaths) {
  for (const char* relative : relativePaths) {
    const std::string path = std::string(varo::kInstallRoot) + relative;
    if (!::dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE)) {
      std::fprintf(stderr, "cannot load %s: %s (is the tree installed?)\n", path.c_str(),
                   ::dlerror());
      std::abort();
    }
  }
}

}  // namespace varo::fuzz
