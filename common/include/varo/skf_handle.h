// Small helpers over the vendor's SKF functions that the driver and the
// signing module share: handles that close themselves, and bounded reading
// of SKF name lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "varo/byte_span.h"
#include "varo/skf_types.h"

namespace varo {

// A device, application or container handle that is closed with its SKF
// close function when the scope ends (or earlier through close()).
class SkfHandle {
 public:
  using CloseFn = skf::ULONG (*)(skf::HANDLE);
  explicit SkfHandle(CloseFn close) : close_(close) {}
  ~SkfHandle() { close(); }
  SkfHandle(const SkfHandle&) = delete;
  SkfHandle& operator=(const SkfHandle&) = delete;

  // The slot for an SKF open call; any handle held before is closed first.
  skf::HANDLE* slot() {
    close();
    return &handle_;
  }
  skf::HANDLE get() const { return handle_; }
  bool isOpen() const { return handle_ != nullptr; }
  void close() {
    if (handle_ && close_) close_(handle_);
    handle_ = nullptr;
  }
  // Forgets the handle without closing it: the object it names stays open
  // after the scope ends.
  void leaveOpen() { handle_ = nullptr; }

 private:
  CloseFn close_;
  skf::HANDLE handle_ = nullptr;
};

// The names of an SKF multi-string (names separated by a zero byte, ended by
// an empty name), read within the bytes the library reported and the buffer
// it wrote into. A name without its terminator inside those bytes ends the
// list.
inline std::vector<std::string> parseSkfNameList(ByteSpan list) {
  std::vector<std::string> names;
  std::string_view rest = list.view();
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    if (end == std::string_view::npos || end == 0) break;
    names.emplace_back(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  return names;
}

// A name as the SKF functions take it: a modifiable zero-terminated text.
inline char* skfName(std::string& name) {
  return name.data();
}

}  // namespace varo
