// The streaming form of SM3: the context, the padding and the length, over
// the compression variant chosen for the processor (mySM3_compress.h).
#include "mySM3.h"

#include <cstring>

#include "mySM3_compress.h"

namespace {

inline void store32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

constexpr uint32_t kIv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                             0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

}  // namespace

mySM3::mySM3() = default;
mySM3::~mySM3() = default;

void mySM3::sm3_starts(sm3_context* ctx) {
  ctx->total[0] = 0;
  ctx->total[1] = 0;
  std::memcpy(ctx->state, kIv, sizeof kIv);
}

void mySM3::sm3_process(sm3_context* ctx, const unsigned char data[64]) {
  varo::sm3::compressor()(ctx->state, data, 1);
}

void mySM3::sm3_update(sm3_context* ctx, const unsigned char* input, int ilen) {
  if (ilen <= 0 || input == nullptr) return;
  size_t left = ctx->total[0] & 0x3F;
  size_t n = static_cast<size_t>(ilen);
  ctx->total[0] += static_cast<uint32_t>(ilen);
  if (ctx->total[0] < static_cast<uint32_t>(ilen)) ctx->total[1]++;

  const varo::sm3::CompressFn compress = varo::sm3::compressor();
  if (left && n >= 64 - left) {
    size_t fill = 64 - left;
    std::memcpy(ctx->buffer + left, input, fill);
    compress(ctx->state, ctx->buffer, 1);
    input += fill;
    n -= fill;
    left = 0;
  }
  if (n >= 64) {
    size_t blocks = n / 64;
    compress(ctx->state, input, blocks);
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
