// The files the local signing service leaves under /tmp for the provider:
// the seal list, one file per seal and one picture record per seal. The
// provider only reads them; they are caches filled on request.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "varo/byte_span.h"
#include "varo/caller_buffer.h"

namespace varo::service {

inline constexpr const char* kListFile = "/tmp/varo.list";
inline constexpr size_t kListReadLimit = 10240;
inline constexpr size_t kSealReadLimit = 204800;
inline constexpr size_t kPictureReadLimit = 204800;
// Characters of a seal identifier that names a seal file, at most.
inline constexpr size_t kMaxSealFileIdLength = 99;

// The first limit bytes of the file the service left at path; nullopt when
// it is missing or not the service's: only a regular file with one link that
// belongs to the calling user or root counts (no link is followed, and a
// FIFO planted under the name is never opened for a blocking read).
std::optional<std::string> readServiceFile(const std::string& path, size_t limit);
// True when the service's file is there, by the same rule.
bool serviceFileExists(const std::string& path);

// The identifier part of a seal id: the characters before the first "@",
// within the given length and before the text's terminating zero. nullopt when it is empty, longer
// than kMaxSealFileIdLength, contains "/" or is "." or "..", so that it can never name a file
// outside /tmp.
std::optional<std::string> sealFileId(const unsigned char* sealId, int length);

// "/tmp/" + identifier + ".seal".
std::string sealFilePath(const std::string& identifier);

// "/tmp/" + the SM3 digest of the seal in lower-case hexadecimal without
// leading zeros + ".pic"; the digest bytes are returned through digest when
// it is not null (32 bytes).
std::string pictureFilePath(ByteSpan seal, unsigned char* digest);

// Hands a picture record (width and height as the low four bytes of two
// 8-byte little-endian fields, then the picture bytes) to a reader's
// outputs: 0 with the picture measured or copied through out and the size
// stored; 4400 for a record shorter than its header; 4371, nothing written,
// for a buffer the reader says is too small.
int putPictureRecord(ByteSpan record, CallerBuffer& out, int* width, int* height);

}  // namespace varo::service
