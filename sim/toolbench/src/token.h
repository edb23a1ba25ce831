// Server tokens of the online seal list.
//
// A token is the standard base64 encoding (with padding) of the text
//   address "|" port "|" token id "|" field 4
// where address is a numeric IPv4 or IPv6 address, port a decimal number from
// 1 to 65535, token id 1 to 63 and field 4 0 to 31 printable ASCII
// characters other than "|", a double quote and a backslash.
#pragma once

#include <optional>
#include <string>

namespace toolbench {

inline constexpr size_t kAddressSize = 32;
inline constexpr size_t kPortSize = 16;
inline constexpr size_t kTokenIdSize = 64;
inline constexpr size_t kField4Size = 32;
// The longest decoded text: each field one below its output size, three bars.
inline constexpr size_t kMaxTokenPlain =
    (kAddressSize - 1) + (kPortSize - 1) + (kTokenIdSize - 1) + (kField4Size - 1) + 3;
// The longest token text accepted: the base64 of the longest decoded text.
inline constexpr size_t kMaxTokenText = 4 * ((kMaxTokenPlain + 2) / 3);

struct Token {
  std::string address;
  std::string port;
  std::string tokenId;
  std::string field4;
};

// The token text, or nullopt when it is not a well-formed token. Reads at
// most kMaxTokenText + 1 bytes of text.
std::optional<Token> parseToken(const char* text);

// The port number of a port field, or 0 when it is not a number from 1 to
// 65535 written with decimal digits only.
int parsePort(const std::string& port);

}  // namespace toolbench
