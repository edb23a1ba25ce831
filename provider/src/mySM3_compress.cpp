// The portable SM3 compression function, the round constants, and the
// choice among the compression variants.
#include "mySM3_compress.h"

#include <atomic>

namespace varo::sm3 {

namespace {

constexpr uint32_t rotlConst(uint32_t x, int n) {
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}
constexpr uint32_t roundConstant(int j) {
  return rotlConst(j < 16 ? 0x79CC4519u : 0x7A879D8Au, j % 32);
}

inline uint32_t rotl(uint32_t x, int n) {
  return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
inline uint32_t load32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint32_t p0(uint32_t x) {
  return x ^ rotl(x, 9) ^ rotl(x, 17);
}
inline uint32_t p1(uint32_t x) {
  return x ^ rotl(x, 15) ^ rotl(x, 23);
}
inline uint32_t ff0(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t ff1(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | ((x | y) & z);
}
inline uint32_t gg0(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t gg1(uint32_t x, uint32_t y, uint32_t z) {
  return ((y ^ z) & x) ^ z;
}

// One round with the register roles passed in; the caller rotates the names
// instead of moving eight values around. After the round, d holds the new A
// and h the new E, b and f are rotated in place. The message words live in a
// ring of 16: W[j] at w[j % 16], W[j + 4] was expanded four rounds earlier.
#define SM3_ROUND(a, b, c, d, e, f, g, h, j, FF, GG)                               \
  do {                                                                             \
    const uint32_t a12 = rotl(a, 12);                                              \
    const uint32_t ss1 = rotl(a12 + e + kRoundConstants[j], 7);                    \
    const uint32_t wj = w[(j)&15];                                                 \
    const uint32_t tt1 = FF(a, b, c) + d + (ss1 ^ a12) + (wj ^ w[((j) + 4) & 15]); \
    const uint32_t tt2 = GG(e, f, g) + h + ss1 + wj;                               \
    b = rotl(b, 9);                                                                \
    d = tt1;                                                                       \
    f = rotl(f, 19);                                                               \
    h = p0(tt2);                                                                   \
    if ((j) < 52)                                                                  \
      w[(j)&15] = p1(wj ^ w[((j) + 7) & 15] ^ rotl(w[((j) + 13) & 15], 15)) ^      \
                  rotl(w[((j) + 3) & 15], 7) ^ w[((j) + 10) & 15];                 \
  } while (0)

#define SM3_FOUR(j, FF, GG)                           \
  SM3_ROUND(A, B, C, D, E, F, G, H, (j), FF, GG);     \
  SM3_ROUND(D, A, B, C, H, E, F, G, (j) + 1, FF, GG); \
  SM3_ROUND(C, D, A, B, G, H, E, F, (j) + 2, FF, GG); \
  SM3_ROUND(B, C, D, A, F, G, H, E, (j) + 3, FF, GG)

bool always() {
  return true;
}

#if defined(__x86_64__)
bool avx2Supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2");
}
#endif

constexpr Compressor kCompressors[] = {
    {"portable", compressPortable, always},
#if defined(__x86_64__)
    {"avx2", compressAvx2, avx2Supported},
#endif
};

CompressFn choose() {
  CompressFn chosen = compressPortable;
  for (const Compressor& c : kCompressors)
    if (c.supported()) chosen = c.compress;
  return chosen;
}

}  // namespace

const uint32_t kRoundConstants[64] = {
    roundConstant(0),  roundConstant(1),  roundConstant(2),  roundConstant(3),  roundConstant(4),
    roundConstant(5),  roundConstant(6),  roundConstant(7),  roundConstant(8),  roundConstant(9),
    roundConstant(10), roundConstant(11), roundConstant(12), roundConstant(13), roundConstant(14),
    roundConstant(15), roundConstant(16), roundConstant(17), roundConstant(18), roundConstant(19),
    roundConstant(20), roundConstant(21), roundConstant(22), roundConstant(23), roundConstant(24),
    roundConstant(25), roundConstant(26), roundConstant(27), roundConstant(28), roundConstant(29),
    roundConstant(30), roundConstant(31), roundConstant(32), roundConstant(33), roundConstant(34),
    roundConstant(35), roundConstant(36), roundConstant(37), roundConstant(38), roundConstant(39),
    roundConstant(40), roundConstant(41), roundConstant(42), roundConstant(43), roundConstant(44),
    roundConstant(45), roundConstant(46), roundConstant(47), roundConstant(48), roundConstant(49),
    roundConstant(50), roundConstant(51), roundConstant(52), roundConstant(53), roundConstant(54),
    roundConstant(55), roundConstant(56), roundConstant(57), roundConstant(58), roundConstant(59),
    roundConstant(60), roundConstant(61), roundConstant(62), roundConstant(63),
};

void compressPortable(uint32_t state[8], const unsigned char* data, size_t blocks) {
  while (blocks--) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load32(data + 4 * i);

    uint32_t A = state[0], B = state[1], C = state[2], D = state[3];
    uint32_t E = state[4], F = state[5], G = state[6], H = state[7];
    SM3_FOUR(0, ff0, gg0);
    SM3_FOUR(4, ff0, gg0);
    SM3_FOUR(8, ff0, gg0);
    SM3_FOUR(12, ff0, gg0);
    SM3_FOUR(16, ff1, gg1);
    SM3_FOUR(20, ff1, gg1);
    SM3_FOUR(24, ff1, gg1);
    SM3_FOUR(28, ff1, gg1);
    SM3_FOUR(32, ff1, gg1);
    SM3_FOUR(36, ff1, gg1);
    SM3_FOUR(40, ff1, gg1);
    SM3_FOUR(44, ff1, gg1);
    SM3_FOUR(48, ff1, gg1);
    SM3_FOUR(52, ff1, gg1);
    SM3_FOUR(56, ff1, gg1);
    SM3_FOUR(60, ff1, gg1);
    state[0] ^= A;
    state[1] ^= B;
    state[2] ^= C;
    state[3] ^= D;
    state[4] ^= E;
    state[5] ^= F;
    state[6] ^= G;
    state[7] ^= H;
    data += 64;
  }
}

#undef SM3_FOUR
#undef SM3_ROUND

const Compressor* compressors(size_t* count) {
  *count = sizeof kCompressors / sizeof kCompressors[0];
  return kCompressors;
}

CompressFn compressor() {
  // Chosen on first use. Threads that race here all choose the same variant,
  // so whichever store lands last changes nothing.
  static std::atomic<CompressFn> chosen{nullptr};
  CompressFn fn = chosen.load(std::memory_order_relaxed);
  if (!fn) {
    fn = choose();
    chosen.store(fn, std::memory_order_relaxed);
  }
  return fn;
}

}  // namespace varo::sm3
