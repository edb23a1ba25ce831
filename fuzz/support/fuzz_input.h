// Small pieces shared by the fuzz targets: exact-size buffers, so that the
// sanitizers see a write one byte past a field, and the splitting of one
// input into the several byte strings a target feeds to the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varo::fuzz {

// A heap block of exactly `size` bytes (a zero-size block too, so that any
// write into it is reported).
class ExactBuffer {
 public:
  explicit ExactBuffer(size_t size) : size_(size), bytes_(new uint8_t[size]) {
    if (size) std::memset(bytes_.get(), 0xA5, size);
  }
  ExactBuffer(const uint8_t* data, size_t size) : ExactBuffer(size) {
    if (size) std::memcpy(bytes_.get(), data, size);
  }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  char* text() { return reinterpret_cast<char*>(bytes_.get()); }
  size_t size() const { return size_; }
  int length() const { return static_cast<int>(size_); }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
};

// The separator between the parts of one input; the targets' dictionaries
// carry it so that the fuzzer finds it easily.
inline constexpr std::string_view kPartSeparator = "\n--part--\n";

// Cuts an input at each separator into at most `count` parts (the last part
// keeps any further separators); missing parts are empty.
inline std::vector<std::string> splitParts(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> parts;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (parts.size() + 1 < count) {
    const size_t at = rest.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + kPartSeparator.size());
  }
  parts.emplace_back(rest);
  parts.resize(count);
  return parts;
}

// The first byte of an input chooses among `count` operations; the rest is
// the operation's input.
struct Choice {
  unsigned which;
  const uint8_t* data;
  size_t size;
};
inline Choice choose(const uint8_t* data, size_t size, unsigned count) {
  if (size == 0) return {0, data, 0};
  return {static_cast<unsigned>(data[0] % count), data + 1, size - 1};
}

// Ends the run, naming the property, when a property of the code under test
// does not hold, so that the fuzzer keeps the input as a finding.
inline void expect(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace varo::fuzz
