#include "varo/caller_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using varo::ByteSpan;
using varo::CallerBuffer;
using Result = CallerBuffer::Result;

enum class Style { Checked, Sized, Text };

struct Case {
  const char* name;
  Style style;
  bool withBuffer;
  int incoming;
  Result expected;
  int lengthAfter;
  size_t bytesWritten;  // bytes of the 16-byte guarded buffer that changed
};

TEST(CallerBuffer, EachStyleWritesWithinTheCallersRoom) {
  const std::string data = "ABCDEFGH";  // 8 bytes
  const Case cases[] = {
      {"checked measure", Style::Checked, false, 3, Result::Measured, 8, 0},
      {"checked exact", Style::Checked, true, 8, Result::Copied, 8, 8},
      {"checked larger", Style::Checked, true, 12, Result::Copied, 8, 8},
      {"checked small", Style::Checked, true, 7, Result::TooSmall, 7, 0},
      {"checked negative", Style::Checked, true, -1, Result::TooSmall, -1, 0},
      {"sized measure", Style::Sized, false, 0, Result::Measured, 8, 0},
      {"sized no capacity", Style::Sized, true, 0, Result::Copied, 8, 8},
      {"sized small", Style::Sized, true, 4, Result::TooSmall, 4, 0},
      {"sized exact", Style::Sized, true, 8, Result::Copied, 8, 8},
      {"text measure", Style::Text, false, 0, Result::Measured, 8, 0},
      {"text no capacity", Style::Text, true, 0, Result::Copied, 8, 9},
      {"text room for terminator", Style::Text, true, 9, Result::Copied, 8, 9},
      {"text exact without terminator", Style::Text, true, 8, Result::Copied, 8, 8},
      {"text too small", Style::Text, true, 7, Result::TooSmall, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    int length = c.incoming;
    CallerBuffer out(c.withBuffer ? buffer : static_cast<unsigned char*>(nullptr), &length);
    Result r = c.style == Style::Checked ? out.putChecked(ByteSpan(data))
               : c.style == Style::Sized ? out.putSized(ByteSpan(data))
                                         : out.putText(data);
    EXPECT_EQ(r, c.expected);
    EXPECT_EQ(length, c.lengthAfter);
    size_t changed = 0;
    for (size_t i = 0; i < sizeof buffer; ++i)
      if (buffer[i] != 0xEE) changed = i + 1;
    EXPECT_EQ(changed, c.bytesWritten);
    if (c.bytesWritten >= 8) {
      EXPECT_EQ(std::memcmp(buffer, data.data(), 8), 0);
    }
    if (c.bytesWritten == 9) {
      EXPECT_EQ(buffer[8], 0);
    }
  }
}

TEST(CallerBuffer, NullLengthDoesNothing) {
  unsigned char buffer[4] = {1, 2, 3, 4};
  CallerBuffer out(buffer, static_cast<int*>(nullptr));
  EXPECT_EQ(out.putChecked(ByteSpan("xy", 2)), Result::NoLength);
  EXPECT_EQ(out.putText("xy"), Result::NoLength);
  EXPECT_EQ(buffer[0], 1);
}

TEST(ByteSpan, TakeNeverPassesTheEnd) {
  const unsigned char bytes[] = {1, 2, 3, 4, 5};
  ByteSpan s(bytes, sizeof bytes);
  ByteSpan head;
  EXPECT_FALSE(s.take(6, &head));
  EXPECT_EQ(s.size(), 5u);
  EXPECT_TRUE(s.take(2, &head));
  EXPECT_EQ(head.size(), 2u);
  EXPECT_EQ(s[0], 3);
  uint32_t v = 0;
  EXPECT_FALSE(s.readU32LE(&v));
  EXPECT_TRUE(s.from(10).empty());
  EXPECT_EQ(s.prefix(10).size(), 3u);
  EXPECT_TRUE(ByteSpan::fromInt(bytes, -3).empty());
}

}  // namespace
