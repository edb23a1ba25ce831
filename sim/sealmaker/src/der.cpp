#include "varo/der.h"

#include <cstdint>
#include <cstdlib>

namespace varo::der {

namespace {

void appendLength(Bytes* out, size_t n) {
  if (n < 0x80) {
    out->push_back(uint8_t(n));
    return;
  }
  uint8_t octets[sizeof(size_t)];
  int count = 0;
  for (size_t v = n; v; v >>= 8) octets[count++] = uint8_t(v & 0xFF);
  out->push_back(uint8_t(0x80 | count));
  while (count) out->push_back(octets[--count]);
}

void appendBase128(Bytes* out, unsigned long v) {
  uint8_t groups[10];
  int count = 0;
  do {
    groups[count++] = uint8_t(v & 0x7F);
    v >>= 7;
  } while (v);
  while (count > 1) out->push_back(uint8_t(0x80 | groups[--count]));
  out->push_back(groups[0]);
}

}  // namespace

Bytes tlv(uint8_t tag, ByteSpan content) {
  Bytes out{tag};
  appendLength(&out, content.size());
  out.insert(out.end(), content.data(), content.data() + content.size());
  return out;
}

Bytes sequenceOf(const std::vector<Bytes>& elements) {
  Bytes content;
  for (const Bytes& e : elements) content.insert(content.end(), e.begin(), e.end());
  return tlv(kSequence, ByteSpan(content.data(), content.size()));
}

Bytes sequence(std::initializer_list<Bytes> elements) {
  return sequenceOf(std::vector<Bytes>(elements));
}

Bytes integer(long value) {
  // Two's complement, big-endian, without redundant leading octets.
  Bytes content;
  for (int shift = int(sizeof(long) - 1) * 8; shift >= 0; shift -= 8)
    content.push_back(uint8_t((static_cast<unsigned long>(value) >> shift) & 0xFF));
  size_t first = 0;
  while (first + 1 < content.size() && ((content[first] == 0x00 && !(content[first + 1] & 0x80)) ||
                                        (content[first] == 0xFF && (content[first + 1] & 0x80))))
    ++first;
  return tlv(kInteger, ByteSpan(content.data() + first, content.size() - first));
}

Bytes text(uint8_t tag, const std::string& s) {
  return tlv(tag, ByteSpan(s));
}

Bytes octets(ByteSpan content) {
  return tlv(kOctetString, content);
}

Bytes bitString(ByteSpan octets) {
  Bytes content{0x00};
  content.insert(content.end(), octets.data(), octets.data() + octets.size());
  return tlv(kBitString, ByteSpan(content.data(), content.size()));
}

Bytes objectId(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  const char* p = dotted.c_str();
  while (*p) {
    if (*p < '0' || *p > '9') return {};
    char* end = nullptr;
    arcs.push_back(std::strtoul(p, &end, 10));
    p = end;
    if (*p == '.') {
      ++p;
      if (!*p) return {};
    } else if (*p) {
      return {};
    }
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return {};
  Bytes content;
  appendBase128(&content, arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) appendBase128(&content, arcs[i]);
  return tlv(kObjectId, ByteSpan(content.data(), content.size()));
}

bool readAnyLength(ByteSpan* in, Element* out, bool* minimal) {
  ByteSpan rest = *in;
  uint8_t tag = 0, first = 0;
  if (!rest.readU8(&tag) || (tag & 0x1F) == 0x1F || !rest.readU8(&first)) return false;
  size_t length = first;
  *minimal = true;
  if (first & 0x80) {
    size_t count = first & 0x7F;
    if (count == 0) return false;  // indefinite
    length = 0;
    for (size_t i = 0; i < count; ++i) {
      uint8_t b = 0;
      if (!rest.readU8(&b)) return false;
      if (i == 0 && b == 0) *minimal = false;
      if (length > (SIZE_MAX >> 8)) return false;  // longer than any input
      length = length << 8 | b;
    }
    if (length < 0x80) *minimal = false;  // the short form was required
  }
  ByteSpan content;
  if (!rest.take(length, &content)) return false;
  out->tag = tag;
  out->content = content;
  out->whole = in->prefix(in->size() - rest.size());
  *in = rest;
  return true;
}

bool read(ByteSpan* in, Element* out) {
  ByteSpan rest = *in;
  bool minimal = false;
  if (!readAnyLength(&rest, out, &minimal) || !minimal) return false;
  *in = rest;
  return true;
}

bool children(ByteSpan content, std::vector<Element>* out) {
  out->clear();
  while (!content.empty()) {
    Element e;
    if (!read(&content, &e)) return false;
    out->push_back(e);
  }
  return true;
}

}  // namespace varo::der
