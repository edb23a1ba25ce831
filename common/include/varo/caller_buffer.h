// The output pair of the OES interface and the plug-ins: a caller's buffer
// (may be null) and a pointer to an int length. The three output styles live
// here once, so that no function does its own pointer arithmetic on a
// caller's buffer.
#pragma once

#include "varo/byte_span.h"

namespace varo {

class CallerBuffer {
 public:
  enum class Result {
    Measured,  // null buffer: only the length was stored
    Copied,    // the data was copied and its length stored
    TooSmall,  // the buffer was refused; buffer and length are untouched
    NoLength,  // the length pointer is null; nothing was done
  };

  CallerBuffer(unsigned char* buffer, int* length) : buf_(buffer), len_(length) {}
  CallerBuffer(char* buffer, int* length)
      : buf_(reinterpret_cast<unsigned char*>(buffer)), len_(length) {}

  bool hasBuffer() const { return buf_ != nullptr; }
  bool hasLength() const { return len_ != nullptr; }
  // The incoming length as the caller set it, or -1 without a length pointer.
  int incoming() const { return len_ ? *len_ : -1; }

  // Measure or copy, checked: a buffer whose incoming length is below the
  // data length is refused.
  Result putChecked(ByteSpan data);

  // Measure or copy where the caller's incoming length is not part of the
  // contract (it sized the buffer from a measuring call). A positive incoming
  // length is still honoured as the buffer's capacity, so a reader that says
  // how large its buffer is can never be overrun; zero or a negative value
  // means the caller gave no capacity.
  Result putSized(ByteSpan data);

  // Fixed text: the length receives the text length (no terminator) and the
  // buffer the text followed by a zero byte. A positive incoming length below
  // text + 1 gets the text without terminator when it fits exactly, and is
  // refused when it is smaller still; the stored length is the text length
  // either way.
  Result putText(std::string_view text);

  // Stores a length without touching the buffer.
  void setLength(int n) {
    if (len_) *len_ = n;
  }

 private:
  unsigned char* buf_;
  int* len_;
};

}  // namespace varo
