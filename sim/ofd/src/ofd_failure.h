// The failure of an operation that reports its reason through a text
// pointer the caller may leave null.
#pragma once

#include <string>

namespace varo::ofd {

inline bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace varo::ofd
