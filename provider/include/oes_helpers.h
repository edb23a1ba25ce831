// Small helpers shared by the provider's flows: copying into a reader's
// buffer, splitting seal ids, hex and base64 texts, trace files.
#pragma once

#include <QString>

#include "OesProvider.h"

// Stores strlen(text) through length; when buffer is not null, writes the text
// and a zero byte. A positive incoming length is taken as the buffer's size:
// when it equals the text length the terminator is left out, when it is
// smaller nothing is written (the stored length is the text length either
// way). A null length pointer does nothing. The last argument is not read.
OES_EXPORT void CopyTo(const char* text, unsigned char* buffer, int* length, int unused);

// Measure or copy, checked: a null buffer stores n and gives 1; a buffer whose
// incoming length is below n is left alone (as is the length) and gives 0;
// otherwise exactly n bytes are copied, n stored and 1 returned. A null length
// pointer, a negative n or null data with n > 0 give 0 and change nothing.
OES_EXPORT int CopyToEx(const unsigned char* data, int n, unsigned char* buffer, int* length);

// Cuts text in place at every run of delimiter characters and stores pointers
// to the non-empty pieces in parts, their number in *count. A null or empty
// text or delimiter set returns at once without touching *count.
//
// Room policy: the array is assumed to hold kSplitMaxParts (8) pieces, or
// kSplitMaxPartsAmpersand (4) when the delimiter set is exactly "&" (the two
// shapes of the seal id). Pieces beyond the room are dropped, never written.
// Code inside the library passes its own capacity to the overload below.
OES_EXPORT void split(char* text, const char* delimiters, char** parts, int* count);
void split(char* text, const char* delimiters, char** parts, int* count, int capacity);
inline constexpr int kSplitMaxParts = 8;
inline constexpr int kSplitMaxPartsAmpersand = 4;

// Appends each byte as lower-case hex without a leading zero ("5" for 0x05,
// "a0" for 0xA0) to the zero-terminated text already in text; the caller
// gives room for its current content + 2 * n + 1 bytes.
OES_EXPORT void HexToString(const unsigned char* bytes, int n, char* text);

// Standard base64 with "=" padding and a line feed after every 64 output
// characters (none at the end), as a new zero-terminated text that the caller
// releases with free(). Null when bytes is null with n > 0 or memory is short.
OES_EXPORT char* openssl_base64_encode(const unsigned char* bytes, int n);

extern "C" {
// Writes 4 * ceil(n / 3) base64 characters (no line breaks, no terminator) to
// out and stores that count through outLength when it is not null. -1 for
// null data or out, or n <= 0 or too large for an int result; else 0.
OES_EXPORT int base64_encode(const unsigned char* data, int n, char* out, int* outLength);

// Decodes the zero-terminated text up to its terminating zero; n only has
// to be a positive multiple of 4 (it may count only the Base64 characters of
// a text with line breaks). Line feed, carriage return and space are
// skipped. -1 for null arguments, n <= 0, a character outside the alphabet
// or a group of more than two "="; -2 when n is not a multiple of 4 or the
// characters end inside a group. On success the decoded byte count is
// stored through outLength and 0 is returned. The caller gives out room for
// 3 * (strlen(text) / 4) bytes, the most any text of that length decodes to.
OES_EXPORT int base64_decode(const char* text, int n, unsigned char* out, int* outLength);
}

// Checkpoint marker /tmp/varolog/<name> holding 10 zero bytes. Never creates
// the directory, never follows a link, never fails.
OES_EXPORT void writeLogEx(char* name);
// Data dump: creates or truncates path and writes n bytes (10 zero bytes when
// n is 0), with the same safety rules as the markers.
OES_EXPORT void writeLog(const char* path, const unsigned char* bytes, unsigned long n);
// Progress texts are discarded.
OES_EXPORT void writeLog(QString);
