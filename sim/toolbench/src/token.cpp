#include "token.h"

#include <arpa/inet.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <vector>

namespace toolbench {
namespace {

bool isNumericAddress(const std::string& s) {
  unsigned char scratch[sizeof(in6_addr)];
  return inet_pton(AF_INET, s.c_str(), scratch) == 1 ||
         inet_pton(AF_INET6, s.c_str(), scratch) == 1;
}

// Printable ASCII that can stand inside a JSON string and our separators.
bool isPlainText(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7e || c == '|' || c == '"' || c == '\\') return false;
  return true;
}

std::vector<std::string> splitFields(const std::string& s) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t bar = s.find('|', start);
    fields.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) return fields;
    start = bar + 1;
  }
}

// The bytes of a canonical base64 text (standard alphabet, "=" padding, no
// line breaks or spaces), nullopt for any other text: a text counts when
// encoding its decoded bytes gives exactly the text back.
std::optional<std::string> decodeCanonicalBase64(const char* text, size_t length) {
  if (length == 0 || length % 4 != 0 || length > size_t(INT_MAX) - 1) return std::nullopt;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  std::vector<unsigned char> plain(length / 4 * 3);
  // Counts the padding octets in: they decode as zeros.
  const int decoded = EVP_DecodeBlock(plain.data(), in, static_cast<int>(length));
  size_t padding = 0;
  while (padding < 2 && text[length - 1 - padding] == '=') ++padding;
  if (decoded < 0 || static_cast<size_t>(decoded) < padding) return std::nullopt;
  plain.resize(static_cast<size_t>(decoded) - padding);
  std::vector<unsigned char> again(length + 1);  // the encoder adds a zero
  const int encoded = EVP_EncodeBlock(again.data(), plain.data(), static_cast<int>(plain.size()));
  if (encoded < 0 || static_cast<size_t>(encoded) != length ||
      std::memcmp(again.data(), in, length) != 0)
    return std::nullopt;
  return std::string(plain.begin(), plain.end());
}

}  // namespace

int parsePort(const std::string& port) {
  if (port.empty() || port.size() > 5) return 0;
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535 ? value : 0;
}

std::optional<Token> parseToken(const char* text) {
  if (!text) return std::nullopt;
  const size_t length = strnlen(text, kMaxTokenText + 1);
  if (length == 0 || length > kMaxTokenText) return std::nullopt;

  // No missing padding, no stray bits, no other characters.
  const auto decoded = decodeCanonicalBase64(text, length);
  if (!decoded) return std::nullopt;
  const std::string& plain = *decoded;
  if (plain.find('\0') != std::string::npos) return std::nullopt;

  const auto fields = splitFields(plain);
  if (fields.size() != 4) return std::nullopt;
  Token token{fields[0], fields[1], fields[2], fields[3]};
  if (token.address.size() >= kAddressSize || !isNumericAddress(token.address)) return std::nullopt;
  if (token.port.size() >= kPortSize || parsePort(token.port) == 0) return std::nullopt;
  if (token.tokenId.empty() || token.tokenId.size() >= kTokenIdSize || !isPlainText(token.tokenId))
    return std::nullopt;
  if (token.field4.size() >= kField4Size || !isPlainText(token.field4)) return std::nullopt;
  return token;
}

}  // namespace toolbench
