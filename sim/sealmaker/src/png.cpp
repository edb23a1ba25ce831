#include "png.h"

#include <array>
#include <string>

namespace varo::sealmaker {

namespace {

using Bytes = std::vector<uint8_t>;

const std::array<uint32_t, 256>& crcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

void putU32(Bytes* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void chunk(Bytes* out, const char type[4], const Bytes& data) {
  putU32(out, uint32_t(data.size()));
  size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  putU32(out, crc32(out->data() + start, out->size() - start));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each).
Bytes zlibStored(const Bytes& raw) {
  Bytes out{0x78, 0x01};
  size_t pos = 0;
  do {
    size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    bool last = pos + n == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(uint8_t(n & 0xFF));
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(~n & 0xFF));
    out.push_back(uint8_t((~n >> 8) & 0xFF));
    out.insert(out.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
    pos += n;
  } while (pos < raw.size());
  putU32(&out, adler32(raw.data(), raw.size()));
  return out;
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = crcTable()[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t adler32(const uint8_t* data, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

std::vector<uint8_t> encodePng(const BitImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != size_t(image.width) * size_t(image.height))
    return {};
  Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

  Bytes header;
  putU32(&header, uint32_t(image.width));
  putU32(&header, uint32_t(image.height));
  header.insert(header.end(), {1, 3, 0, 0, 0});  // 1 bit, palette, deflate, filter 0, no interlace
  chunk(&out, "IHDR", header);
  chunk(&out, "PLTE", Bytes{0xFF, 0xFF, 0xFF, image.ink.r, image.ink.g, image.ink.b});
  chunk(&out, "tRNS", Bytes{0x00, 0xFF});  // the background is transparent

  // Rows of packed bits, most significant bit first, each after filter 0.
  size_t rowBytes = (size_t(image.width) + 7) / 8;
  Bytes raw;
  raw.reserve((rowBytes + 1) * size_t(image.height));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    size_t rowStart = raw.size();
    raw.resize(rowStart + rowBytes, 0);
    for (int x = 0; x < image.width; ++x)
      if (image.pixels[size_t(y) * size_t(image.width) + size_t(x)])
        raw[rowStart + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
  }
  chunk(&out, "IDAT", zlibStored(raw));
  chunk(&out, "IEND", Bytes{});
  return out;
}

}  // namespace varo::sealmaker
