// A small DER writer and reader of the seal maker. It is deliberately
// separate from the seal codec, so that each can check the other.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "varo/byte_span.h"

namespace varo::der {

using Bytes = std::vector<uint8_t>;

enum Tag : uint8_t {
  kInteger = 0x02,
  kBitString = 0x03,
  kOctetString = 0x04,
  kObjectId = 0x06,
  kUtf8String = 0x0C,
  kIa5String = 0x16,
  kUtcTime = 0x17,
  kSequence = 0x30,
};

// One element: tag, minimal length, content.
Bytes tlv(uint8_t tag, ByteSpan content);
Bytes sequence(std::initializer_list<Bytes> elements);
Bytes sequenceOf(const std::vector<Bytes>& elements);
Bytes integer(long value);
Bytes text(uint8_t tag, const std::string& s);
Bytes octets(ByteSpan content);
// A BIT STRING of whole octets: unused-bits octet 0, every octet kept.
Bytes bitString(ByteSpan octets);
// An OBJECT IDENTIFIER from dotted text; empty when the text is not one.
Bytes objectId(const std::string& dotted);

// One element read from the front of a span.
struct Element {
  uint8_t tag = 0;
  ByteSpan content;  // the content octets
  ByteSpan whole;    // tag, length and content
};

// Reads the next element and advances; false on a truncated element, an
// indefinite or non-minimal length, or a multi-octet tag.
bool read(ByteSpan* in, Element* out);

// As read(), but a definite length written in more octets than it needs is
// accepted; *minimal tells whether it was the shortest form.
bool readAnyLength(ByteSpan* in, Element* out, bool* minimal);

// The elements of a constructed element's content, in order; false when the
// content is not a whole number of elements.
bool children(ByteSpan content, std::vector<Element>* out);

}  // namespace varo::der
