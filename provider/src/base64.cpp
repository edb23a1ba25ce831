// Base64 texts: the line-wrapped form of the cryptographic library's base64
// filter, and the plain undecorated encode/decode pair.
#include <openssl/bio.h>
#include <openssl/evp.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "oes_helpers.h"
#include "varo/openssl_ptr.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Sextet value of c, 64 for "=", -1 outside the alphabet.
int sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

}  // namespace

char* openssl_base64_encode(const unsigned char* bytes, int n) {
  if (n < 0 || (!bytes && n > 0)) return nullptr;
  varo::BioPtr chain(BIO_new(BIO_f_base64()));
  BIO* sink = BIO_new(BIO_s_mem());
  if (!chain || !sink) {
    BIO_free(sink);
    return nullptr;
  }
  BIO_push(chain.get(), sink);  // the chain now owns the memory sink
  if (n > 0 && BIO_write(chain.get(), bytes, n) != n) return nullptr;
  if (BIO_flush(chain.get()) != 1) return nullptr;
  char* data = nullptr;
  long size = BIO_get_mem_data(sink, &data);
  if (size < 0) return nullptr;
  if (size > 0 && data[size - 1] == '\n') --size;
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  if (!text) return nullptr;
  if (size > 0) std::memcpy(text, data, static_cast<size_t>(size));
  text[size] = 0;
  return text;
}

extern "C" int base64_encode(const unsigned char* data, int n, char* out, int* outLength) {
  if (!data || !out || n <= 0 || n > INT_MAX / 4 * 3) return -1;
  int o = 0;
  for (int i = 0; i < n; i += 3) {
    const int left = n - i;
    const uint32_t group = uint32_t(data[i]) << 16 | (left > 1 ? uint32_t(data[i + 1]) << 8 : 0) |
                           (left > 2 ? uint32_t(data[i + 2]) : 0);
    out[o++] = kAlphabet[(group >> 18) & 63];
    out[o++] = kAlphabet[(group >> 12) & 63];
    out[o++] = left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out[o++] = left > 2 ? kAlphabet[group & 63] : '=';
  }
  if (outLength) *outLength = o;
  return 0;
}

extern "C" int base64_decode(const char* text, int n, unsigned char* out, int* outLength) {
  if (!text || !out || !outLength || n <= 0) return -1;
  // n only has to be a multiple of 4; the text is read up to its terminating
  // zero, so a text with line breaks whose n counts only its Base64
  // characters decodes whole.
  if (n % 4 != 0) return -2;
  uint32_t group = 0;
  int filled = 0, pads = 0, written = 0;
  for (size_t i = 0; text[i]; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r' || c == ' ') continue;
    const int v = sextet(c);
    if (v < 0) return -1;
    if (v == 64) ++pads;
    group = group << 6 | uint32_t(v == 64 ? 0 : v);
    if (++filled < 4) continue;
    if (pads > 2) return -1;
    const unsigned char bytes[3] = {static_cast<unsigned char>(group >> 16),
                                    static_cast<unsigned char>(group >> 8),
                                    static_cast<unsigned char>(group)};
    std::memcpy(out + written, bytes, size_t(3 - pads));
    written += 3 - pads;
    group = 0;
    filled = 0;
    pads = 0;
  }
  if (filled != 0) return -2;
  *outLength = written;
  return 0;
}
