// A minimal PNG writer: 1-bit palette images in stored (uncompressed)
// deflate blocks, with CRC-32 and Adler-32 computed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varo::sealmaker {

struct Rgb {
  uint8_t r, g, b;
};

// A two-colour image: pixel value 0 is the background (transparent), 1 the
// ink. pixels holds width * height values, row by row.
struct BitImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  Rgb ink{0xD0, 0x10, 0x10};
};

// The PNG file bytes; empty for an image without pixels.
std::vector<uint8_t> encodePng(const BitImage& image);

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0);
uint32_t adler32(const uint8_t* data, size_t n);

}  // namespace varo::sealmaker
