// Writes decoded fields into the codec's caller buffers. The caller sized
// every buffer for its field; a null buffer or length pointer is skipped.
#pragma once

#include <cstring>
#include <string_view>

#include "varo/byte_span.h"

namespace ses {

// Raw copy without a terminating zero.
inline void putRaw(void* out, varo::ByteSpan field) {
  if (out && field.size()) std::memcpy(out, field.data(), field.size());
}

// Raw copy and its length, each when given.
inline void putWithLength(void* out, int* length, varo::ByteSpan field) {
  if (length) *length = static_cast<int>(field.size());
  putRaw(out, field);
}

// Text followed by a terminating zero.
inline void putText(char* out, std::string_view text) {
  if (!out) return;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
}

inline void putInt(int* out, int value) {
  if (out) *out = value;
}

}  // namespace ses
