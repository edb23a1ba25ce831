// Internals of the signature inspection exports that tests reach directly.
#pragma once

#include <cstddef>
#include <ctime>

namespace varo::provider {

// Length of the signing time text "YYMMDDhhmmssZ" (UTC, no terminator).
inline constexpr int kSignTimeLength = 13;

// Writes the signing time text of t into out (kSignTimeLength bytes, no
// terminator). False, out untouched, when t cannot be broken down in UTC or
// its year lies outside 0..9999.
bool formatSignTime(std::time_t t, char* out);

// Room for any field that decoding a signature of n bytes can produce: a
// decoded field is never much longer than the bytes it came from; the
// embedded seal is re-encoded, which can lengthen some headers of an
// indefinite-length input.
inline size_t decodedFieldCapacity(size_t n) {
  return 2 * n + 4096;
}

}  // namespace varo::provider
