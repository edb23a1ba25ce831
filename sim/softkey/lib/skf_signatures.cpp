// The exported functions that the system's callers resolve must have exactly
// the types of the shared function table; a drift fails the build here.
#include <type_traits>

#include "skf_common.h"
#include "varo/skf_api.h"

#define VARO_SKF_DECLARE(name, ret, params) SKF_EXPORT ret name params;
namespace skf {}
using namespace skf;
VARO_SKF_FUNCTIONS(VARO_SKF_DECLARE)
#undef VARO_SKF_DECLARE

#define VARO_SKF_CHECK(name, ret, params)                          \
  static_assert(std::is_same_v<decltype(&::name), skf::name##_Fn>, \
                #name " differs from the shared function table");
VARO_SKF_FUNCTIONS(VARO_SKF_CHECK)
#undef VARO_SKF_CHECK
