#include "varo/caller_buffer.h"

#include <climits>
#include <cstring>

namespace varo {

namespace {
int clampLength(size_t n) {
  return n > size_t(INT_MAX) ? INT_MAX : int(n);
}
}  // namespace

CallerBuffer::Result CallerBuffer::putChecked(ByteSpan data) {
  if (!len_) return Result::NoLength;
  if (!buf_) {
    *len_ = clampLength(data.size());
    return Result::Measured;
  }
  if (*len_ < 0 || size_t(*len_) < data.size()) return Result::TooSmall;
  if (data.size()) std::memcpy(buf_, data.data(), data.size());
  *len_ = clampLength(data.size());
  return Result::Copied;
}

CallerBuffer::Result CallerBuffer::putSized(ByteSpan data) {
  if (!len_) return Result::NoLength;
  if (!buf_) {
    *len_ = clampLength(data.size());
    return Result::Measured;
  }
  if (*len_ > 0 && size_t(*len_) < data.size()) return Result::TooSmall;
  if (data.size()) std::memcpy(buf_, data.data(), data.size());
  *len_ = clampLength(data.size());
  return Result::Copied;
}

CallerBuffer::Result CallerBuffer::putText(std::string_view text) {
  if (!len_) return Result::NoLength;
  const int incomingLength = *len_;
  *len_ = clampLength(text.size());
  if (!buf_) return Result::Measured;
  size_t room = incomingLength > 0 ? size_t(incomingLength) : text.size() + 1;
  if (room < text.size()) return Result::TooSmall;
  std::memcpy(buf_, text.data(), text.size());
  if (room > text.size()) buf_[text.size()] = 0;
  return Result::Copied;
}

}  // namespace varo
