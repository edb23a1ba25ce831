// The one curve operation of an SM2 verification, s*G + t*P, on arithmetic
// made for the SM2 prime: four 64-bit limbs in Montgomery form, Jacobian
// points, both scalars in one pass of width-5 non-adjacent forms. Every
// input is public, so nothing here needs to run in constant time.
#pragma once

#include <cstdint>

namespace varo::sm2 {

// Big-endian 32-byte numbers.
using Bytes32 = uint8_t[32];

// Computes s*G + t*P for the curve's base point G and the point P with the
// affine coordinates (px, py), which must be on the curve and below p; s
// and t are below 2^256. False when the sum is the point at infinity;
// otherwise *matches tells whether the sum's affine x equals one of the
// `count` candidates (each below p).
bool sumXIsOneOf(const Bytes32 s, const Bytes32 t, const Bytes32 px, const Bytes32 py,
                 const Bytes32* candidates, int count, bool* matches);

}  // namespace varo::sm2
