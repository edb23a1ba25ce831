#include "mySM3.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int n) {
  return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
inline uint32_t load32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void store32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
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

constexpr uint32_t kIv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                             0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

// T_j rotated left by j (mod 32), one entry per round.
struct RoundConstants {
  uint32_t t[64];
  constexpr RoundConstants() : t() {
    for (int j = 0; j < 64; ++j) {
      uint32_t base = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
      int n = j % 32;
      t[j] = n == 0 ? base : (base << n) | (base >> (32 - n));
    }
  }
};
constexpr RoundConstants kT;

// One round with the register roles passed in; the caller rotates the names
// instead of moving eight values around. After the round, d holds the new A
// and h the new E, b and f are rotated in place. The message words live in a
// ring of 16: W[j] at w[j % 16], W[j + 4] was expanded four rounds earlier.
#define SM3_ROUND(a, b, c, d, e, f, g, h, j, FF, GG)                               \
  do {                                                                             \
    const uint32_t a12 = rotl(a, 12);                                              \
    const uint32_t ss1 = rotl(a12 + e + kT.t[j], 7);                               \
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

// Built twice, picked at load time: processors with BMI2 get non-destructive
// rotates, which shortens every round noticeably.
__attribute__((target_clones("arch=haswell", "default"))) void compressBlocks(
    uint32_t state[8], const unsigned char* data, size_t blocks) {
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

}  // namespace

mySM3::mySM3() = default;
mySM3::~mySM3() = default;

void mySM3::sm3_starts(sm3_context* ctx) {
  ctx->total[0] = 0;
  ctx->total[1] = 0;
  std::memcpy(ctx->state, kIv, sizeof kIv);
}

void mySM3::sm3_process(sm3_context* ctx, const unsigned char data[64]) {
  compressBlocks(ctx->state, data, 1);
}

void mySM3::sm3_update(sm3_context* ctx, const unsigned char* input, int ilen) {
  if (ilen <= 0 || input == nullptr) return;
  size_t left = ctx->total[0] & 0x3F;
  size_t n = static_cast<size_t>(ilen);
  ctx->total[0] += static_cast<uint32_t>(ilen);
  if (ctx->total[0] < static_cast<uint32_t>(ilen)) ctx->total[1]++;

  if (left && n >= 64 - left) {
    size_t fill = 64 - left;
    std::memcpy(ctx->buffer + left, input, fill);
    compressBlocks(ctx->state, ctx->buffer, 1);
    input += fill;
    n -= fill;
    left = 0;
  }
  if (n >= 64) {
    size_t blocks = n / 64;
    compressBlocks(ctx->state, input, blocks);
    input += blocks * 64;
    n -= blocks * 64;
  }
  if (n) std::memcpy(ctx->buffer + left, input, n);
}

void mySM3::sm3_finish(sm3_context* ctx, unsigned char output[32]) {
  const uint32_t high = (ctx->total[0] >> 29) | (ctx->total[1] << 3);
  const uint32_t low = ctx->total[0] << 3;
  unsigned char length[8];
  store32(length, high);
  store32(length + 4, low);

  static const unsigned char kPadding[64] = {0x80};
  const uint32_t pending = ctx->total[0] & 0x3F;
  const int padCount = static_cast<int>(pending < 56 ? 56 - pending : 120 - pending);
  sm3_update(ctx, kPadding, padCount);
  sm3_update(ctx, length, 8);
  for (int i = 0; i < 8; ++i) store32(output + 4 * i, ctx->state[i]);
}

void mySM3::sm3(const unsigned char* input, int ilen, unsigned char output[32]) {
  sm3_context ctx;
  sm3_starts(&ctx);
  sm3_update(&ctx, input, ilen);
  sm3_finish(&ctx, output);
}
