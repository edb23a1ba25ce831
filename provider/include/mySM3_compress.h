// The SM3 compression function over whole 64-byte blocks, in the variants
// this build carries, and the one chosen for the processor at hand. Every
// variant computes exactly the same function; they differ only in how the
// work is spread over the processor's units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varo::sm3 {

// Compresses `blocks` consecutive 64-byte blocks into the chaining value.
using CompressFn = void (*)(uint32_t state[8], const unsigned char* data, size_t blocks);

struct Compressor {
  const char* name;
  CompressFn compress;
  bool (*supported)();  // whether this processor can run it
};

// T_j rotated left by j (mod 32), one entry per round: the constant the
// round adds before its rotation by 7. Kept out of line so that the rounds
// read it from memory instead of folding it into three-operand additions,
// which take an extra cycle on the critical path.
extern const uint32_t kRoundConstants[64] __attribute__((visibility("hidden")));

// Plain C++, for every processor.
void compressPortable(uint32_t state[8], const unsigned char* data, size_t blocks);

#if defined(__x86_64__)
// Message expansion four words at a time in vector registers (AVX2),
// interleaved with scalar rounds that use the non-destructive rotates of
// BMI2.
void compressAvx2(uint32_t state[8], const unsigned char* data, size_t blocks);
#endif

// Every variant of this build, the portable one first.
const Compressor* compressors(size_t* count);

// The variant used by mySM3: the last supported entry of compressors(),
// chosen once per process.
CompressFn compressor();

}  // namespace varo::sm3
