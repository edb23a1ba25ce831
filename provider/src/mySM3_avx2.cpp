// SM3 compression with the message expansion in vector registers.
//
// What limits SM3 on a modern core is the chain from one round's E to the
// next: P0 (two rotates and two exclusive ors), the addition and rotation
// that make SS1, and the two additions of TT2 — seven dependent steps for
// rounds 16 to 63, six before. Everything else can run beside that chain,
// so this variant takes the rest off the integer units: the expansion of
// W[16..67] and W'[0..63] runs four words at a time in vector registers
// (AVX2), one group of four ahead of the rounds that need it, and hands the
// words to the rounds through a small buffer on the stack; the rounds use
// the non-destructive rotates of BMI2 and read every message word and round
// constant as a memory operand, so that the eight chaining words and the
// few temporaries of a round stay in registers.
//
// The file is compiled without GCC's second scheduling pass (see
// provider/CMakeLists.txt): that pass reorders the rounds in a way that
// costs about a fifth of the throughput here.
#if defined(__x86_64__)

#include <immintrin.h>

#include "mySM3_compress.h"

#define VARO_SM3_TARGET __attribute__((target("avx2,bmi,bmi2")))

namespace varo::sm3 {

namespace {

inline uint32_t rotl(uint32_t x, int n) {
  return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

template <int N>
VARO_SM3_TARGET inline __m128i rotlv(__m128i x) {
  return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
}

VARO_SM3_TARGET inline __m128i xor3(__m128i x, __m128i y, __m128i z) {
  return _mm_xor_si128(_mm_xor_si128(x, y), z);
}

VARO_SM3_TARGET inline __m128i p1v(__m128i x) {
  return xor3(x, rotlv<15>(x), rotlv<23>(x));
}

// W[j..j+3] from W[j-16..j-1], given as the four vectors before it:
//   W[j] = P1(W[j-16] ^ W[j-9] ^ (W[j-3] <<< 15)) ^ (W[j-13] <<< 7) ^ W[j-6].
// The last lane needs W[j] itself as its W[j-3]; it is computed with 0 there
// and mended afterwards, P1 being linear over exclusive or.
VARO_SM3_TARGET inline __m128i expand(__m128i w16, __m128i w12, __m128i w8, __m128i w4) {
  const __m128i m9 = _mm_alignr_epi8(w8, w12, 12);    // W[j-9..j-6]
  const __m128i m13 = _mm_alignr_epi8(w12, w16, 12);  // W[j-13..j-10]
  const __m128i m6 = _mm_alignr_epi8(w4, w8, 8);      // W[j-6..j-3]
  const __m128i m3 = _mm_srli_si128(w4, 4);           // W[j-3..j-1], 0
  const __m128i y = xor3(p1v(xor3(w16, m9, rotlv<15>(m3))), rotlv<7>(m13), m6);
  const __m128i mend = _mm_slli_si128(p1v(rotlv<15>(y)), 12);  // lane 0 to lane 3
  return _mm_xor_si128(y, mend);
}

// One round, written in the order the dependencies want. The stack buffer
// is read through a volatile view: otherwise GCC takes each word out of its
// vector register (two micro-ops and several cycles each) instead of
// loading it, and runs out of integer registers.
#define SM3_ROUND(a, b, c, d, e, f, g, h, j, FF, GG) \
  do {                                               \
    uint32_t a12 = rotl(a, 12);                      \
    uint32_t ss1 = a12 + kRoundConstants[j];         \
    ss1 += e;                                        \
    ss1 = rotl(ss1, 7);                              \
    a12 ^= ss1;                                      \
    d += schedule[kPrimeAt + (j)];                   \
    d += FF(a, b, c);                                \
    d += a12;                                        \
    h += schedule[kWordAt + (j)];                    \
    h += GG(e, f, g);                                \
    h += ss1;                                        \
    b = rotl(b, 9);                                  \
    f = rotl(f, 19);                                 \
    h = h ^ rotl(h, 9) ^ rotl(h, 17);                \
  } while (0)

#define FF0(x, y, z) ((x) ^ (y) ^ (z))
#define FF1(x, y, z) (((x) & (y)) | (((x) | (y)) & (z)))
#define GG0(x, y, z) ((x) ^ ((y) ^ (z)))
#define GG1(x, y, z) (((x) & (y)) | (~(x) & (z)))

#define SM3_FOUR(j, FF, GG)                           \
  SM3_ROUND(A, B, C, D, E, F, G, H, (j), FF, GG);     \
  SM3_ROUND(D, A, B, C, H, E, F, G, (j) + 1, FF, GG); \
  SM3_ROUND(C, D, A, B, G, H, E, F, (j) + 2, FF, GG); \
  SM3_ROUND(B, C, D, A, F, G, H, E, (j) + 3, FF, GG)

// Group k: W[4k+16..4k+19] and W'[4k+12..4k+15] are made (while there are
// any left to make), then rounds 4k to 4k+3 run.
#define SM3_GROUP(k, FF, GG)                                             \
  do {                                                                   \
    if ((k) <= 12) {                                                     \
      const __m128i next = expand(v0, v1, v2, v3);                       \
      store(buffer + kWordAt + 4 * ((k) + 4), next);                     \
      store(buffer + kPrimeAt + 4 * ((k) + 3), _mm_xor_si128(v3, next)); \
      v0 = v1;                                                           \
      v1 = v2;                                                           \
      v2 = v3;                                                           \
      v3 = next;                                                         \
    }                                                                    \
    SM3_FOUR(4 * (k), FF, GG);                                           \
  } while (0)

// Layout of the buffer: W'[0..63], then W[0..67].
constexpr int kPrimeAt = 0;
constexpr int kWordAt = 64;

VARO_SM3_TARGET inline void store(uint32_t* at, __m128i v) {
  _mm_store_si128(reinterpret_cast<__m128i*>(at), v);
}

VARO_SM3_TARGET inline __m128i loadWords(const unsigned char* p, __m128i byteSwap) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
}

}  // namespace

VARO_SM3_TARGET void compressAvx2(uint32_t state[8], const unsigned char* data, size_t blocks) {
  // Big-endian words to native order.
  const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  alignas(16) uint32_t buffer[64 + 68];
  const volatile uint32_t* schedule = buffer;
  uint32_t A = state[0], B = state[1], C = state[2], D = state[3];
  uint32_t E = state[4], F = state[5], G = state[6], H = state[7];
  while (blocks--) {
    __m128i v0 = loadWords(data, byteSwap), v1 = loadWords(data + 16, byteSwap);
    __m128i v2 = loadWords(data + 32, byteSwap), v3 = loadWords(data + 48, byteSwap);
    store(buffer + kWordAt, v0);
    store(buffer + kWordAt + 4, v1);
    store(buffer + kWordAt + 8, v2);
    store(buffer + kWordAt + 12, v3);
    store(buffer + kPrimeAt, _mm_xor_si128(v0, v1));
    store(buffer + kPrimeAt + 4, _mm_xor_si128(v1, v2));
    store(buffer + kPrimeAt + 8, _mm_xor_si128(v2, v3));

    const uint32_t a0 = A, b0 = B, c0 = C, d0 = D, e0 = E, f0 = F, g0 = G, h0 = H;
    SM3_GROUP(0, FF0, GG0);
    SM3_GROUP(1, FF0, GG0);
    SM3_GROUP(2, FF0, GG0);
    SM3_GROUP(3, FF0, GG0);
    SM3_GROUP(4, FF1, GG1);
    SM3_GROUP(5, FF1, GG1);
    SM3_GROUP(6, FF1, GG1);
    SM3_GROUP(7, FF1, GG1);
    SM3_GROUP(8, FF1, GG1);
    SM3_GROUP(9, FF1, GG1);
    SM3_GROUP(10, FF1, GG1);
    SM3_GROUP(11, FF1, GG1);
    SM3_GROUP(12, FF1, GG1);
    SM3_GROUP(13, FF1, GG1);
    SM3_GROUP(14, FF1, GG1);
    SM3_GROUP(15, FF1, GG1);
    A ^= a0;
    B ^= b0;
    C ^= c0;
    D ^= d0;
    E ^= e0;
    F ^= f0;
    G ^= g0;
    H ^= h0;
    data += 64;
  }
  state[0] = A;
  state[1] = B;
  state[2] = C;
  state[3] = D;
  state[4] = E;
  state[5] = F;
  state[6] = G;
  state[7] = H;
}

}  // namespace varo::sm3

#endif  // __x86_64__
