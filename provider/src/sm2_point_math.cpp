#include "sm2_point_math.h"

#include <array>

#include "sm2_curve.h"

namespace varo::sm2 {
namespace {

using u128 = unsigned __int128;

// A field element: four little-endian 64-bit limbs, always below p. In
// Montgomery form (times 2^256 mod p) unless said otherwise.
struct Fe {
  uint64_t v[4];
};

constexpr Fe fromHex(const char* hex) {
  Fe r{};
  for (int i = 0; i < 64; ++i) {
    const int limb = 3 - i / 16;
    r.v[limb] = r.v[limb] << 4 | detail::hexValue(hex[i]);
  }
  return r;
}

constexpr Fe kPrime = fromHex(kP);

constexpr bool atLeast(const Fe& a, const Fe& b) {
  for (int i = 3; i >= 0; --i)
    if (a.v[i] != b.v[i]) return a.v[i] > b.v[i];
  return true;
}

// r = a + b, the carry out returned.
constexpr uint64_t addLimbs(Fe& r, const Fe& a, const Fe& b) {
  uint64_t carry = 0;
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    const u128 sum = u128(a.v[i]) + b.v[i] + carry;
    r.v[i] = uint64_t(sum);
    carry = uint64_t(sum >> 64);
  }
  return carry;
}

// r = a - b, the borrow out returned.
constexpr uint64_t subLimbs(Fe& r, const Fe& a, const Fe& b) {
  uint64_t borrow = 0;
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    const u128 difference = u128(a.v[i]) - b.v[i] - borrow;
    r.v[i] = uint64_t(difference);
    borrow = uint64_t(difference >> 64) & 1;
  }
  return borrow;
}

// Sums and differences choose their reduction by masks, not branches: on
// these values a branch would go either way at random.
constexpr Fe add(const Fe& a, const Fe& b) {
  Fe sum{}, reduced{};
  const uint64_t carry = addLimbs(sum, a, b);
  const uint64_t borrow = subLimbs(reduced, sum, kPrime);
  // The sum reached p: it carried out, or p could be taken from it.
  const uint64_t useReduced = 0 - (carry | (borrow ^ 1));
  Fe r{};
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) r.v[i] = (reduced.v[i] & useReduced) | (sum.v[i] & ~useReduced);
  return r;
}

constexpr Fe sub(const Fe& a, const Fe& b) {
  Fe difference{};
  const uint64_t wrap = 0 - subLimbs(difference, a, b);
  const Fe back{{kPrime.v[0] & wrap, kPrime.v[1] & wrap, kPrime.v[2] & wrap, kPrime.v[3] & wrap}};
  Fe r{};
  addLimbs(r, difference, back);
  return r;
}

// -p^-1 mod 2^64 by Newton's iteration (each step doubles the correct bits).
constexpr uint64_t negatedInverse(uint64_t odd) {
  uint64_t inverse = 1;
  for (int i = 0; i < 6; ++i) inverse *= 2 - odd * inverse;
  return 0 - inverse;
}
constexpr uint64_t kN0 = negatedInverse(kPrime.v[0]);

// a * b / 2^256 mod p (word-by-word Montgomery multiplication). The loops
// are unrolled so that the partial sums stay in registers.
Fe mul(const Fe& a, const Fe& b) {
  uint64_t t[6] = {};
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      const u128 z = u128(a.v[j]) * b.v[i] + t[j] + carry;
      t[j] = uint64_t(z);
      carry = uint64_t(z >> 64);
    }
    u128 z = u128(t[4]) + carry;
    t[4] = uint64_t(z);
    t[5] = uint64_t(z >> 64);
    const uint64_t m = t[0] * kN0;
    z = u128(m) * kPrime.v[0] + t[0];
    carry = uint64_t(z >> 64);
#pragma GCC unroll 3
    for (int j = 1; j < 4; ++j) {
      z = u128(m) * kPrime.v[j] + t[j] + carry;
      t[j - 1] = uint64_t(z);
      carry = uint64_t(z >> 64);
    }
    z = u128(t[4]) + carry;
    t[3] = uint64_t(z);
    t[4] = t[5] + uint64_t(z >> 64);
  }
  Fe r{{t[0], t[1], t[2], t[3]}};
  if (t[4] || atLeast(r, kPrime)) {
    Fe reduced{};
    subLimbs(reduced, r, kPrime);
    return reduced;
  }
  return r;
}

Fe sqr(const Fe& a) {
  return mul(a, a);
}

// 2^k mod p, in plain form.
constexpr Fe powerOfTwo(int k) {
  Fe r{{1, 0, 0, 0}};
  for (int i = 0; i < k; ++i) r = add(r, r);
  return r;
}
constexpr Fe kOne = powerOfTwo(256);         // 1 in Montgomery form
constexpr Fe kMontgomery = powerOfTwo(512);  // turns a plain value into Montgomery form

bool isZero(const Fe& a) {
  return (a.v[0] | a.v[1] | a.v[2] | a.v[3]) == 0;
}

bool equal(const Fe& a, const Fe& b) {
  return ((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3])) == 0;
}

// A big-endian number below p, into Montgomery form.
Fe fieldElement(const Bytes32 bytes) {
  Fe plain{};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 8; ++k) plain.v[i] = plain.v[i] << 8 | bytes[(3 - i) * 8 + k];
  return mul(plain, kMontgomery);
}

// Jacobian coordinates: (X / Z^2, Y / Z^3); Z = 0 is the point at infinity.
struct Point {
  Fe x, y, z;
};

constexpr Point kInfinity{kOne, kOne, Fe{}};

// 2P, for a = -3 (the curve's a is p - 3).
Point dbl(const Point& p) {
  if (isZero(p.z)) return p;
  const Fe delta = sqr(p.z), gamma = sqr(p.y), beta = mul(p.x, gamma);
  Fe alpha = mul(sub(p.x, delta), add(p.x, delta));
  alpha = add(alpha, add(alpha, alpha));
  const Fe beta2 = add(beta, beta), beta4 = add(beta2, beta2), beta8 = add(beta4, beta4);
  Point r;
  r.x = sub(sqr(alpha), beta8);
  r.z = sub(sub(sqr(add(p.y, p.z)), gamma), delta);
  const Fe gamma2 = sqr(gamma), gamma4 = add(gamma2, gamma2), gamma8 = add(gamma4, gamma4);
  r.y = sub(mul(alpha, sub(beta4, r.x)), add(gamma8, gamma8));
  return r;
}

// P + Q for any two points, equal, opposite and infinite ones included.
Point plus(const Point& p, const Point& q) {
  if (isZero(p.z)) return q;
  if (isZero(q.z)) return p;
  const Fe z1z1 = sqr(p.z), z2z2 = sqr(q.z);
  const Fe u1 = mul(p.x, z2z2), u2 = mul(q.x, z1z1);
  const Fe s1 = mul(mul(p.y, q.z), z2z2), s2 = mul(mul(q.y, p.z), z1z1);
  const Fe h = sub(u2, u1);
  Fe r = sub(s2, s1);
  if (isZero(h)) return isZero(r) ? dbl(p) : kInfinity;
  r = add(r, r);
  const Fe i = sqr(add(h, h)), j = mul(h, i), v = mul(u1, i);
  Point sum;
  sum.x = sub(sub(sqr(r), j), add(v, v));
  const Fe s1j = mul(s1, j);
  sum.y = sub(mul(r, sub(v, sum.x)), add(s1j, s1j));
  sum.z = mul(sub(sub(sqr(add(p.z, q.z)), z1z1), z2z2), h);
  return sum;
}

Point negated(const Point& p) {
  return Point{p.x, sub(Fe{}, p.y), p.z};
}

constexpr int kWindow = 5;
constexpr int kTableSize = 1 << (kWindow - 2);  // P, 3P, ..., 15P
using Table = std::array<Point, kTableSize>;

Table oddMultiples(const Point& p) {
  Table table;
  table[0] = p;
  const Point twice = dbl(p);
  for (int i = 1; i < kTableSize; ++i) table[i] = plus(table[i - 1], twice);
  return table;
}

// The base point's odd multiples, made on first use.
const Table& baseTable() {
  static const Table table = [] {
    Bytes32 gx, gy;
    for (int i = 0; i < 32; ++i) {
      gx[i] = uint8_t(detail::hexValue(kGx[2 * i]) << 4 | detail::hexValue(kGx[2 * i + 1]));
      gy[i] = uint8_t(detail::hexValue(kGy[2 * i]) << 4 | detail::hexValue(kGy[2 * i + 1]));
    }
    return oddMultiples(Point{fieldElement(gx), fieldElement(gy), kOne});
  }();
  return table;
}

// The width-5 non-adjacent form of k, least significant digit first: odd
// digits from -15 to 15 with at least four zeros after each; at most 257
// digits. Returns the number of digits.
constexpr int kMaxDigits = 257;
int nonAdjacentForm(const Bytes32 k, int8_t* digits) {
  uint64_t w[5] = {};
  for (int i = 0; i < 4; ++i)
    for (int b = 0; b < 8; ++b) w[i] = w[i] << 8 | k[(3 - i) * 8 + b];
  int length = 0;
  while ((w[0] | w[1] | w[2] | w[3] | w[4]) != 0 && length < kMaxDigits) {
    int digit = 0;
    if (w[0] & 1) {
      digit = int(w[0] & ((1u << kWindow) - 1));
      if (digit >= 1 << (kWindow - 1)) digit -= 1 << kWindow;
      if (digit > 0) {
        w[0] -= uint64_t(digit);  // the low bits hold digit: no borrow
      } else {
        uint64_t carry = uint64_t(-digit);
        for (int i = 0; i < 5 && carry; ++i) {
          w[i] += carry;
          carry = w[i] < carry ? 1 : 0;
        }
      }
    }
    digits[length++] = int8_t(digit);
    for (int i = 0; i < 4; ++i) w[i] = w[i] >> 1 | w[i + 1] << 63;
    w[4] >>= 1;
  }
  return length;
}

Point addDigit(const Point& acc, const Table& table, int digit) {
  if (digit > 0) return plus(acc, table[digit / 2]);
  return plus(acc, negated(table[-digit / 2]));
}

}  // namespace

bool sumXIsOneOf(const Bytes32 s, const Bytes32 t, const Bytes32 px, const Bytes32 py,
                 const Bytes32* candidates, int count, bool* matches) {
  int8_t sDigits[kMaxDigits], tDigits[kMaxDigits];
  const int sLength = nonAdjacentForm(s, sDigits), tLength = nonAdjacentForm(t, tDigits);
  const Table& base = baseTable();
  const Table point = oddMultiples(Point{fieldElement(px), fieldElement(py), kOne});

  Point acc = kInfinity;
  for (int i = (sLength > tLength ? sLength : tLength) - 1; i >= 0; --i) {
    acc = dbl(acc);
    if (i < sLength && sDigits[i]) acc = addDigit(acc, base, sDigits[i]);
    if (i < tLength && tDigits[i]) acc = addDigit(acc, point, tDigits[i]);
  }
  if (isZero(acc.z)) return false;

  // x = X / Z^2: compare X with each candidate times Z^2, no inversion.
  const Fe zz = sqr(acc.z);
  *matches = false;
  for (int i = 0; i < count; ++i)
    if (equal(mul(fieldElement(candidates[i]), zz), acc.x)) *matches = true;
  return true;
}

}  // namespace varo::sm2
