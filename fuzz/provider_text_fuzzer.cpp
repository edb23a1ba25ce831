// The provider's text helpers on arbitrary bytes: base64_decode (and the
// round trip through both encoders), HexToString appending to a text already
// in its buffer, and split in both forms with exactly the room their callers
// give. Every buffer is exact, and every result is checked against a plain
// reference.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "oes_helpers.h"

using varo::fuzz::ExactBuffer;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// 3 bytes per complete group of 4 characters: the most a text of n
// characters decodes to.
size_t decodedRoom(size_t textLength) {
  return 3 * (textLength / 4);
}

// Decodes text (zero-terminated in an exact buffer) with the given n into
// an exact buffer of the room its length allows; the output length on
// success, -1 otherwise.
int decode(const std::string& text, int n, std::string* out) {
  ExactBuffer in(text.size() + 1);
  std::memcpy(in.data(), text.c_str(), text.size() + 1);
  ExactBuffer decoded(decodedRoom(std::strlen(in.text())));
  int length = -7;
  const int rc = base64_decode(in.text(), n, decoded.data(), &length);
  if (rc != 0) {
    check(rc == -1 || rc == -2);
    check(length == -7);
    return -1;
  }
  check(length >= 0 && size_t(length) <= decoded.size());
  if (out) out->assign(decoded.text(), size_t(length));
  return length;
}

void base64(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // The first byte picks how n relates to the text; the rest is the text.
  const unsigned mode = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t length = std::strlen(text.c_str());
  size_t significant = 0;
  for (size_t i = 0; i < length; ++i)
    if (text[i] != '\n' && text[i] != '\r' && text[i] != ' ') ++significant;
  int n;
  switch (mode % 4) {
    case 0:
      n = int(length);
      break;
    case 1:
      n = int(length & ~size_t(3));
      break;
    case 2:
      n = int(significant);
      break;
    default:
      n = int(mode >> 2) * 4 - 4;
      break;
  }
  decode(text, n, nullptr);

  // The input bytes go through both encoders and come back unchanged.
  const int count = int(size - 1);
  if (count == 0) return;
  ExactBuffer encoded(4 * ((size_t(count) + 2) / 3));
  int encodedLength = -1;
  check(base64_encode(data + 1, count, encoded.text(), &encodedLength) == 0);
  check(size_t(encodedLength) == encoded.size());
  const std::string plain(encoded.text(), encoded.size());
  std::string back;
  check(decode(plain, int(plain.size()), &back) == count);
  check(std::memcmp(back.data(), data + 1, size_t(count)) == 0);

  char* wrapped = openssl_base64_encode(data + 1, count);
  check(wrapped != nullptr);
  const std::string lines(wrapped);
  std::free(wrapped);
  check(decode(lines, int(plain.size()), &back) == count);
  check(std::memcmp(back.data(), data + 1, size_t(count)) == 0);
}

// Parts: the text already in the buffer, the bytes to append.
void hex(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = varo::fuzz::splitParts(data, size, 2);
  const std::string prefix(parts[0].c_str());  // the text ends at its zero byte
  const std::string& bytes = parts[1];
  ExactBuffer text(prefix.size() + 2 * bytes.size() + 1);
  std::memset(text.data(), 0, text.size());
  std::memcpy(text.data(), prefix.data(), prefix.size());
  HexToString(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), text.text());
  std::string expected = prefix;
  static const char kDigits[] = "0123456789abcdef";
  for (unsigned char b : bytes) {
    if (b >> 4) expected += kDigits[b >> 4];
    expected += kDigits[b & 15];
  }
  check(expected == text.text());
}

// The pieces a token scan finds: non-empty runs of non-delimiters.
std::vector<std::string> pieces(const std::string& text, const std::string& delimiters) {
  std::vector<std::string> out;
  std::string current;
  for (char c : text) {
    if (delimiters.find(c) != std::string::npos) {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

// Parts: delimiter set, text. The first byte of the rest picks the form.
void splitText(const uint8_t* data, size_t size) {
  const varo::fuzz::Choice form = varo::fuzz::choose(data, size, 3);
  const std::vector<std::string> parts = varo::fuzz::splitParts(form.data, form.size, 2);
  std::string delimiters(parts[0].c_str());
  if (form.which == 1) delimiters = "@";
  if (form.which == 2) delimiters = "&";
  const std::string source(parts[1].c_str());
  const bool ampersand = delimiters == "&";
  const int room = ampersand ? kSplitMaxPartsAmpersand : kSplitMaxParts;

  for (int exported = 0; exported < 2; ++exported) {
    ExactBuffer text(source.size() + 1);
    std::memcpy(text.data(), source.c_str(), source.size() + 1);
    ExactBuffer slots(size_t(room) * sizeof(char*));
    char** array = reinterpret_cast<char**>(slots.data());
    int count = -3;
    if (exported)
      split(text.text(), delimiters.c_str(), array, &count);
    else
      split(text.text(), delimiters.c_str(), array, &count, room);
    if (source.empty() || delimiters.empty()) {
      check(count == -3);
      continue;
    }
    const std::vector<std::string> expected = pieces(source, delimiters);
    check(count == int(expected.size() < size_t(room) ? expected.size() : size_t(room)));
    for (int i = 0; i < count; ++i) {
      check(array[i] >= text.text() && array[i] < text.text() + text.size());
      check(expected[size_t(i)] == array[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 3);
  ExactBuffer input(choice.data, choice.size);
  switch (choice.which) {
    case 0:
      base64(input.data(), input.size());
      break;
    case 1:
      hex(input.data(), input.size());
      break;
    default:
      splitText(input.data(), input.size());
      break;
  }
  return 0;
}
