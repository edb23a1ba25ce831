#include "token.h"

#include <arpa/inet.h>

#include <QByteArray>
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

  auto decoded = QByteArray::fromBase64Encoding(QByteArray(text, static_cast<int>(length)),
                                                QByteArray::AbortOnBase64DecodingErrors);
  if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok) return std::nullopt;
  // Re-encoding must give the text back: no missing padding, no stray bits.
  if (decoded.decoded.toBase64() != QByteArray(text, static_cast<int>(length))) return std::nullopt;
  const std::string plain = decoded.decoded.toStdString();
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
