// The PIN hand-over between the two OES_Sign calls: the PIN obtained by the
// first call is held in this process's memory until a later signing call
// reads it back. It is never written to a file, a trace or a log, and the
// memory is wiped when the library is unloaded (or the process ends).
#pragma once

#include <cstddef>
#include <string_view>

namespace varo::provider::pin {

// Longest PIN carried, in characters.
inline constexpr size_t kMaxPinLength = 49;
// Size of a buffer that takes a PIN back with its terminator.
inline constexpr size_t kPinBufferSize = kMaxPinLength + 1;

// Holds pin in place of any PIN held before. False, with nothing held, when
// it is longer than kMaxPinLength or contains a zero byte.
bool put(std::string_view pin);

// Whether a PIN is held.
bool held();

// Forgets the PIN and wipes its memory.
void clear();

// A zero-terminated copy of the held PIN that wipes itself when it goes out
// of scope. The hand-over keeps its PIN: a signing call does not remove it.
class PinCopy {
 public:
  PinCopy();
  ~PinCopy();
  PinCopy(const PinCopy&) = delete;
  PinCopy& operator=(const PinCopy&) = delete;

  // False when no PIN was held.
  bool valid() const { return valid_; }
  char* text() { return text_; }

 private:
  char text_[kPinBufferSize] = {};
  bool valid_ = false;
};

}  // namespace varo::provider::pin
