// Bounded views over bytes: every byte that crosses a boundary (a caller's
// buffer, a service reply, a key file, a DER field) is read through ByteSpan
// and written through ByteWriter, which refuse to go past their ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace varo {

// A read cursor over a byte range that it does not own.
class ByteSpan {
 public:
  ByteSpan() = default;
  ByteSpan(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
  // From a signed length as the OES interface passes it: negative means empty.
  static ByteSpan fromInt(const void* data, int size) {
    return ByteSpan(data, size > 0 ? static_cast<size_t>(size) : 0);
  }
  explicit ByteSpan(std::string_view s) : ByteSpan(s.data(), s.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t operator[](size_t i) const { return data_[i]; }
  std::string_view view() const {
    return std::string_view(reinterpret_cast<const char*>(data_), size_);
  }
  std::string str() const { return std::string(view()); }

  // Takes the next n bytes into *out and advances; false (nothing taken) when
  // fewer than n remain.
  bool take(size_t n, ByteSpan* out) {
    if (n > size_) return false;
    if (out) *out = ByteSpan(data_, n);
    data_ += n;
    size_ -= n;
    return true;
  }
  bool skip(size_t n) { return take(n, nullptr); }
  bool readU8(uint8_t* v) {
    if (size_ < 1) return false;
    *v = data_[0];
    return skip(1);
  }
  // Little-endian unsigned 32-bit value.
  bool readU32LE(uint32_t* v) {
    if (size_ < 4) return false;
    *v = uint32_t(data_[0]) | uint32_t(data_[1]) << 8 | uint32_t(data_[2]) << 16 |
         uint32_t(data_[3]) << 24;
    return skip(4);
  }
  // The first n bytes (or all when fewer exist); never fails.
  ByteSpan prefix(size_t n) const { return ByteSpan(data_, n < size_ ? n : size_); }
  // The bytes from offset on (empty past the end); never fails.
  ByteSpan from(size_t offset) const {
    return offset >= size_ ? ByteSpan() : ByteSpan(data_ + offset, size_ - offset);
  }
  bool equals(ByteSpan o) const {
    return size_ == o.size_ && (size_ == 0 || std::memcmp(data_, o.data_, size_) == 0);
  }
  // Index of the first occurrence of needle, or npos.
  size_t find(std::string_view needle) const { return view().find(needle); }
  static constexpr size_t npos = std::string_view::npos;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A write cursor into a buffer of known capacity that it does not own.
class ByteWriter {
 public:
  ByteWriter(void* data, size_t capacity)
      : data_(static_cast<uint8_t*>(data)), cap_(data ? capacity : 0) {}
  size_t size() const { return used_; }
  size_t remaining() const { return cap_ - used_; }
  // Appends all of src or nothing.
  bool put(ByteSpan src) {
    if (src.size() > remaining()) return false;
    if (src.size()) std::memcpy(data_ + used_, src.data(), src.size());
    used_ += src.size();
    return true;
  }
  bool put(std::string_view s) { return put(ByteSpan(s)); }
  bool putByte(uint8_t b) { return put(ByteSpan(&b, 1)); }
  // Appends text and a terminating zero; all or nothing.
  bool putText(std::string_view s) {
    if (s.size() + 1 > remaining()) return false;
    put(s);
    return putByte(0);
  }

 private:
  uint8_t* data_;
  size_t cap_;
  size_t used_ = 0;
};

}  // namespace varo
