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

TEST(PngWriter, ChecksumsMatchTheirKnownValues) {
  const std::string iend = "IEND", wiki = "Wikipedia";
  EXPECT_EQ(varo::sealmaker::crc32(reinterpret_cast<const uint8_t*>(iend.data()), 4), 0xAE426082u);
  EXPECT_EQ(varo::sealmaker::adler32(reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()),
            0x11E60398u);
}

TEST(PngWriter, DrawnPictureIsAWellFormedPng) {
  for (int size : {160, 33, 1024}) {  // 1024: rows over one stored block
    Bytes png = varo::sealmaker::drawSealPicture("VARO 01", size);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), hex("89504e470d0a1a0a"));
    auto u32 = [&](size_t at) {
      return uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
             png[at + 3];
    };
    std::string types;
    size_t p = 8;
    while (p + 12 <= png.size()) {
      uint32_t n = u32(p);
      ASSERT_LE(p + 12 + n, png.size());
      EXPECT_EQ(varo::sealmaker::crc32(&png[p + 4], n + 4), u32(p + 8 + n)) << size;
      types += std::string(png.begin() + long(p) + 4, png.begin() + long(p) + 8) + " ";
      if (types == "IHDR ") {
        EXPECT_EQ(u32(p + 8), uint32_t(size));
      }
      p += 12 + n;
    }
    EXPECT_EQ(p, png.size());
    EXPECT_EQ(types, "IHDR PLTE tRNS IDAT IEND ");
  }
}

}  // namespace
