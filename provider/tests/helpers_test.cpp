// Splitting, hex and base64 texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "oes_helpers.h"

namespace {

std::vector<std::string> splitToVector(std::string text, const char* delimiters, int* countOut,
                                       int slots = 12) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back(0);
  std::vector<char*> parts(slots, nullptr);
  int count = -1;
  split(buffer.data(), delimiters, parts.data(), &count);
  *countOut = count;
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.emplace_back(parts[i]);
  for (int i = count < 0 ? 0 : count; i < slots; ++i) EXPECT_EQ(parts[i], nullptr) << "slot " << i;
  return out;
}

TEST(Split, CutsAtRunsOfDelimitersWithinTheCallersRoom) {
  using V = std::vector<std::string>;
  struct Case {
    std::string text;
    const char* delimiters;
    int count;  // -1: count untouched
    V pieces;
  } cases[] = {
      {"a@@b@c", "@", 3, {"a", "b", "c"}},
      {"@lead@trail@", "@", 2, {"lead", "trail"}},
      {"", "@", -1, {}},
      {"abc", "", -1, {}},
      {"@@@", "@", 0, {}},
      {"seal@LM_GM3000&dev 1@/VaroSupport/TokenSign_LM",
       "@",
       3,
       {"seal", "LM_GM3000&dev 1", "/VaroSupport/TokenSign_LM"}},
      {"LM_GM3000&dev 1", "&", 2, {"LM_GM3000", "dev 1"}},
      {"a@b&c", "@&", 3, {"a", "b", "c"}},
      // Beyond the room: 8 pieces at "@", 4 at "&"; the rest is dropped.
      {"1@2@3@4@5@6@7@8@9@10", "@", 8, {"1", "2", "3", "4", "5", "6", "7", "8"}},
      {"1&2&3&4&5&6", "&", 4, {"1", "2", "3", "4"}},
  };
  for (const auto& c : cases) {
    int count = 0;
    V pieces = splitToVector(c.text, c.delimiters, &count);
    EXPECT_EQ(count, c.count) << c.text;
    EXPECT_EQ(pieces, c.pieces) << c.text;
  }
}

TEST(Split, ExplicitCapacityIsHonoured) {
  char text[] = "a,b,c,d";
  char* parts[3] = {};
  char* guard = reinterpret_cast<char*>(0x1);
  char* room[4] = {nullptr, nullptr, nullptr, guard};
  int count = 0;
  split(text, ",", room, &count, 3);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(room[3], guard);
  EXPECT_STREQ(room[2], "c");
  split(nullptr, ",", parts, &count, 3);
  EXPECT_EQ(count, 3);
}

TEST(HexText, LowerCaseWithoutLeadingZerosAppended) {
  struct Case {
    std::vector<unsigned char> bytes;
    std::string before, after;
  } cases[] = {
      {{0x00, 0x0F, 0x10, 0xFF}, "", "0f10ff"},
      {{0x05, 0xA0}, "", "5a0"},
      {{0xAB}, "x:", "x:ab"},
      {{}, "keep", "keep"},
  };
  for (const auto& c : cases) {
    char text[64] = {};
    std::memcpy(text, c.before.data(), c.before.size());
    HexToString(c.bytes.data(), int(c.bytes.size()), text);
    EXPECT_EQ(std::string(text), c.after);
  }
}

TEST(Base64, EncodeCases) {
  struct Case {
    std::string in;
    int result;
    std::string out;
  } cases[] = {
      {"abc", 0, "YWJj"},      {"ab", 0, "YWI="}, {"\xFF", 0, "/w=="},
      {"abcd", 0, "YWJjZA=="}, {"", -1, ""},
  };
  for (const auto& c : cases) {
    char out[32];
    std::memset(out, '#', sizeof out);
    int length = -5;
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>(c.in.data()), int(c.in.size()),
                            out, &length),
              c.result)
        << c.in;
    if (c.result != 0) continue;
    EXPECT_EQ(length, int(c.out.size()));
    EXPECT_EQ(std::string(out, length), c.out);
    EXPECT_EQ(out[length], '#');  // no terminator written
  }
  char out[8];
  int length = 0;
  EXPECT_EQ(base64_encode(nullptr, 3, out, &length), -1);
  EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), 3, nullptr, &length), -1);
  EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), -3, out, &length), -1);
  EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), 3, out, nullptr), 0);
}

TEST(Base64, DecodeCases) {
  struct Case {
    std::string text;
    int n;  // -1: the text's length
    int result;
    std::string out;
  } cases[] = {
      {"YWI=", -1, 0, "ab"},
      {"YWI", -1, -2, ""},
      {"YW!=", -1, -1, ""},
      {"YWJj", -1, 0, "abc"},
      {"YQ==", -1, 0, "a"},
      {"YWJj\r\nYQ==  ", -1, 0, "abca"},
      {"YW\nJjYQ==\n\n\n", -1, 0, "abca"},
      {"YWJjYQ\xC3\xA9", -1, -1, ""},
      {"====", -1, -1, ""},
      {"YWJjYWJj", 4, 0, "abcabc"},  // read to the terminator, n only tested
      {"YWJj\nYWJj\n", 8, 0, "abcabc"},  // n counts only the Base64 characters
      {"YWJjYQ=", 4, -2, ""},  // the final group is incomplete
      {"YWJj\n\nYW", -1, -2, ""},  // ends inside a group
      {"YWJj", 0, -1, ""},
      {"YWJj", -4, -1, ""},
  };
  for (const auto& c : cases) {
    unsigned char out[32];
    std::memset(out, '#', sizeof out);
    int length = -5;
    int n = c.n < 0 && c.n != -4 ? int(c.text.size()) : c.n;
    EXPECT_EQ(base64_decode(c.text.c_str(), n, out, &length), c.result) << c.text;
    if (c.result != 0) {
      EXPECT_EQ(length, -5) << c.text;
      continue;
    }
    EXPECT_EQ(length, int(c.out.size())) << c.text;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), c.out);
    EXPECT_EQ(out[length], '#');
  }
  unsigned char out[4];
  int length = 0;
  EXPECT_EQ(base64_decode(nullptr, 4, out, &length), -1);
  EXPECT_EQ(base64_decode("YWJj", 4, nullptr, &length), -1);
  EXPECT_EQ(base64_decode("YWJj", 4, out, nullptr), -1);
}

TEST(Base64, RoundTripsAndWrappedForm) {
  std::mt19937 rng(5);
  for (int n = 1; n <= 200; ++n) {
    std::vector<unsigned char> in(n);
    for (auto& b : in) b = static_cast<unsigned char>(rng());
    std::string text(4 * ((n + 2) / 3) + 1, 0);
    int length = 0;
    ASSERT_EQ(base64_encode(in.data(), n, text.data(), &length), 0);
    ASSERT_EQ(length, 4 * ((n + 2) / 3));

    char* wrapped = openssl_base64_encode(in.data(), n);
    ASSERT_NE(wrapped, nullptr);
    std::string w(wrapped);
    std::free(wrapped);
    std::string unwrapped;
    for (size_t i = 0; i < w.size(); ++i) {
      if ((i + 1) % 65 == 0) {
        EXPECT_EQ(w[i], '\n') << n;
        continue;
      }
      unwrapped += w[i];
    }
    EXPECT_NE(w.back(), '\n');
    EXPECT_EQ(unwrapped, text.substr(0, length)) << n;

    // The wrapped text decodes too: its line feeds are skipped.
    std::vector<unsigned char> back(n + 4, 0);
    int backLength = 0;
    int padded = int(w.size()) + (4 - int(w.size()) % 4) % 4;
    w.append(size_t(padded) - w.size(), ' ');
    ASSERT_EQ(base64_decode(w.c_str(), padded, back.data(), &backLength), 0) << n;
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + backLength), in);
  }
}

TEST(Base64, WrappedSixtyBytesIsTwoLines) {
  std::vector<unsigned char> in(60, 'x');
  char* text = openssl_base64_encode(in.data(), 60);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::strlen(text), 81u);
  EXPECT_EQ(text[64], '\n');
  std::free(text);
  char* empty = openssl_base64_encode(in.data(), 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  std::free(empty);
  EXPECT_EQ(openssl_base64_encode(nullptr, 5), nullptr);
}

}  // namespace
