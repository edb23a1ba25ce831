// The seal maker's DER writer and reader, and its PNG writer, against
// known encodings and check values.
#include <gtest/gtest.h>

#include <string>

#include "png.h"
#include "varo/der.h"
#include "varo/sealmaker.h"

namespace {

namespace der = varo::der;
using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& h) {
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(DerWriter, EncodesIntegersLengthsAndIdentifiersMinimally) {
  struct Case {
    Bytes got;
    const char* expected;
  } cases[] = {
      {der::integer(0), "020100"},
      {der::integer(127), "02017f"},
      {der::integer(128), "02020080"},
      {der::integer(256), "02020100"},
      {der::integer(-1), "0201ff"},
      {der::integer(-128), "020180"},
      {der::integer(-129), "0202ff7f"},
      {der::objectId("1.2.156.10197.1.501"), "06082a811ccf55018375"},
      {der::objectId("2.999.3"), "0603883703"},
      {der::objectId("1.2."), ""},
      {der::objectId("1.40"), ""},
      {der::objectId("x"), ""},
      {der::bitString(varo::ByteSpan("\x12\x00", 2)), "0303001200"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, hex(c.expected)) << c.expected;
  struct Length {
    size_t n;
    Bytes header;
  } lengths[] = {{127, {0x04, 0x7F}},
                 {128, {0x04, 0x81, 0x80}},
                 {256, {0x04, 0x82, 0x01, 0x00}},
                 {65536, {0x04, 0x83, 0x01, 0x00, 0x00}}};
  for (const Length& l : lengths) {
    Bytes content(l.n, 0xAB);
    Bytes e = der::tlv(0x04, varo::ByteSpan(content.data(), content.size()));
    EXPECT_EQ(Bytes(e.begin(), e.begin() + long(l.header.size())), l.header) << l.n;
    EXPECT_EQ(e.size(), l.header.size() + l.n);
  }
}

TEST(DerReader, AcceptsOnlyWholeMinimalElements) {
  struct Case {
    const char* in;
    bool ok;
  } cases[] = {
      {"0400", true},
      {"040161", true},
      {"04810161", false},  // long form for 1
      {"048000", false},
      {"0402", false},
      {"04020000", true},
      {"1f0100", false},
      {"04820080"
       "00",
       false},  // leading zero length octet
      {"", false},
  };
  for (const Case& c : cases) {
    Bytes in = hex(c.in);
    varo::ByteSpan span(in.data(), in.size());
    der::Element e;
    EXPECT_EQ(der::read(&span, &e), c.ok) << c.in;
  }
}

TEST(PngWriter, ChecksumsMatchTheirKnownValues) {
  const std::string iend = "IEND", wiki = "Wikipedia";
  EXPECT_EQ(varo::sealmaker::crc32(reinterpret_cast<const uint8_t*>(iend.data()), 4), 0xAE426082u);
  EXPECT_EQ(varo::sealmaker::adler32(reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()),
            0x11E60398u);
}

// Reads the PNG back by hand: chunk CRCs, the stored deflate blocks, the
// Adler-32 of the rows, and the pixels.
struct DecodedPng {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // 0 or 1
};

bool readPng(const Bytes& png, DecodedPng* out) {
  auto u32 = [&](size_t at) {
    return uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
           png[at + 3];
  };
  if (png.size() < 8 || Bytes(png.begin(), png.begin() + 8) != hex("89504e470d0a1a0a"))
    return false;
  Bytes idat;
  for (size_t p = 8; p + 12 <= png.size();) {
    uint32_t n = u32(p);
    if (p + 12 + n > png.size()) return false;
    std::string type(png.begin() + long(p) + 4, png.begin() + long(p) + 8);
    if (varo::sealmaker::crc32(&png[p + 4], n + 4) != u32(p + 8 + n)) return false;
    if (type == "IHDR") {
      out->width = int(u32(p + 8));
      out->height = int(u32(p + 12));
      if (png[p + 16] != 1 || png[p + 17] != 3) return false;
    }
    if (type == "IDAT")
      idat.insert(idat.end(), png.begin() + long(p) + 8, png.begin() + long(p + 8 + n));
    p += 12 + n;
  }
  if (idat.size() < 6 || idat[0] != 0x78) return false;
  Bytes raw;
  size_t p = 2;
  for (bool last = false; !last;) {
    if (p + 5 > idat.size()) return false;
    last = idat[p] & 1;
    size_t len = idat[p + 1] | idat[p + 2] << 8;
    if ((len ^ 0xFFFF) != size_t(idat[p + 3] | idat[p + 4] << 8)) return false;
    raw.insert(raw.end(), idat.begin() + long(p) + 5, idat.begin() + long(p + 5 + len));
    p += 5 + len;
  }
  if (varo::sealmaker::adler32(raw.data(), raw.size()) !=
      (uint32_t(idat[p]) << 24 | uint32_t(idat[p + 1]) << 16 | uint32_t(idat[p + 2]) << 8 |
       idat[p + 3]))
    return false;
  size_t rowBytes = (size_t(out->width) + 7) / 8;
  if (raw.size() != (rowBytes + 1) * size_t(out->height)) return false;
  for (int y = 0; y < out->height; ++y)
    for (int x = 0; x < out->width; ++x)
      out->pixels.push_back((raw[size_t(y) * (rowBytes + 1) + 1 + size_t(x) / 8] >> (7 - x % 8)) &
                            1);
  return true;
}

TEST(PngWriter, DrawnSealIsARingWithTheName) {
  for (int size : {160, 33, 400}) {
    DecodedPng img;
    ASSERT_TRUE(readPng(varo::sealmaker::drawSealPicture("VARO 01", size), &img)) << size;
    ASSERT_EQ(img.width, size);
    ASSERT_EQ(img.height, size);
    auto at = [&](int x, int y) { return img.pixels[size_t(y) * size_t(size) + size_t(x)]; };
    EXPECT_EQ(at(0, 0), 0) << "corners are background";
    EXPECT_EQ(at(size - 1, size - 1), 0);
    EXPECT_EQ(at(size / 2, 3), 1) << "the ring's top at " << size;
    EXPECT_EQ(at(3, size / 2), 1) << "the ring's left at " << size;
    int inkInTheMiddle = 0;
    for (int x = size / 4; x < 3 * size / 4; ++x) inkInTheMiddle += at(x, size / 2);
    EXPECT_GT(inkInTheMiddle, 0) << "the name across the middle";
  }
  // Rows longer than one stored block still come out whole.
  DecodedPng big;
  EXPECT_TRUE(readPng(varo::sealmaker::drawSealPicture("X", 1024), &big));
}

}  // namespace
