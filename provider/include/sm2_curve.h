// The SM2 recommended 256-bit prime curve (GM/T 0003.5) as the provider
// holds it: 64-digit upper-case hexadecimal texts, and the fixed 146-byte
// prefix of the Z value for the default user id.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varo::sm2 {

inline constexpr const char* kP =
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";
inline constexpr const char* kA =
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC";
inline constexpr const char* kB =
    "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
inline constexpr const char* kGx =
    "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
inline constexpr const char* kN =
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
// y of the base point: not needed by the curve (it is derived from x there),
// only as input to the Z value.
inline constexpr const char* kGy =
    "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";

inline constexpr char kDefaultUserId[] = "1234567812345678";
inline constexpr size_t kZPrefixSize = 2 + 16 + 4 * 32;  // ENTL, id, a, b, Gx, Gy
inline constexpr size_t kZInputSize = kZPrefixSize + 2 * 32;

namespace detail {
constexpr uint8_t hexValue(char c) {
  return c >= '0' && c <= '9'   ? uint8_t(c - '0')
         : c >= 'A' && c <= 'F' ? uint8_t(c - 'A' + 10)
                                : uint8_t(c - 'a' + 10);
}
constexpr void putHex(std::array<uint8_t, kZPrefixSize>& out, size_t at, const char* hex) {
  for (size_t i = 0; i < 32; ++i)
    out[at + i] = uint8_t(hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1]));
}
constexpr std::array<uint8_t, kZPrefixSize> makeZPrefix() {
  std::array<uint8_t, kZPrefixSize> z{};
  z[0] = 0x00;
  z[1] = 0x80;  // 128 bits of user id
  for (size_t i = 0; i < 16; ++i) z[2 + i] = uint8_t(kDefaultUserId[i]);
  putHex(z, 18, kA);
  putHex(z, 50, kB);
  putHex(z, 82, kGx);
  putHex(z, 114, kGy);
  return z;
}
}  // namespace detail

// ENTL || user id || a || b || Gx || Gy.
inline constexpr std::array<uint8_t, kZPrefixSize> kZPrefix = detail::makeZPrefix();

}  // namespace varo::sm2
