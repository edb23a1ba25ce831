// Copying into a reader's buffer, splitting, hex text, trace files.
#include "oes_helpers.h"

#include <cstring>

#include "varo/caller_buffer.h"
#include "varo/trace.h"

void CopyTo(const char* text, unsigned char* buffer, int* length, int) {
  if (!text) return;
  varo::CallerBuffer(buffer, length).putText(text);
}

int CopyToEx(const unsigned char* data, int n, unsigned char* buffer, int* length) {
  if (!length || n < 0 || (!data && n > 0)) return 0;
  auto result = varo::CallerBuffer(buffer, length).putChecked(varo::ByteSpan::fromInt(data, n));
  return result == varo::CallerBuffer::Result::TooSmall ? 0 : 1;
}

void split(char* text, const char* delimiters, char** parts, int* count, int capacity) {
  if (!text || !*text || !delimiters || !*delimiters || !parts || !count) return;
  int found = 0;
  char* p = text;
  while (found < capacity) {
    p += std::strspn(p, delimiters);
    if (!*p) break;
    parts[found++] = p;
    p += std::strcspn(p, delimiters);
    if (!*p) break;
    *p++ = 0;
  }
  *count = found;
}

void split(char* text, const char* delimiters, char** parts, int* count) {
  const bool ampersandOnly = delimiters && std::strcmp(delimiters, "&") == 0;
  split(text, delimiters, parts, count, ampersandOnly ? kSplitMaxPartsAmpersand : kSplitMaxParts);
}

void HexToString(const unsigned char* bytes, int n, char* text) {
  if (!bytes || !text || n <= 0) return;
  static const char kDigits[] = "0123456789abcdef";
  char* out = text + std::strlen(text);
  for (int i = 0; i < n; ++i) {
    const unsigned char b = bytes[i];
    if (b >> 4) *out++ = kDigits[b >> 4];
    *out++ = kDigits[b & 0x0F];
  }
  *out = 0;
}

void writeLogEx(char* name) {
  varo::trace::marker(name);
}

void writeLog(const char* path, const unsigned char* bytes, unsigned long n) {
  varo::trace::dump(path, bytes, n);
}

void writeLog(QString) {}
