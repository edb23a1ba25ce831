// The files the service leaves for the provider under /tmp: the seal list,
// the seal files and the picture files.
#pragma once

#include <cstdint>
#include <string>

namespace signd {

inline constexpr const char* kSealListPath = "/tmp/varo.list";
// The provider reads at most this much of the list.
inline constexpr size_t kMaxSealListSize = 10240;

// "/tmp/" + identifier + ".seal"
std::string sealFilePath(const std::string& identifier);
// "/tmp/" + digest text + ".pic"
std::string pictureFilePath(const std::string& digestText);

// SM3 of the bytes, each byte as lower-case hexadecimal without a leading
// zero (0x0A gives "a").
std::string digestText(const std::string& bytes);

// The picture record: width and height as 8-byte little-endian fields, then
// the picture bytes.
std::string pictureRecord(int32_t width, int32_t height, const std::string& picture);

// Replaces the file at path with content in one step: a temporary file in
// the same directory, then a rename (which replaces a planted link instead
// of following it). The file gets mode 0644. False (path untouched) on any
// failure.
bool replaceFile(const std::string& path, const std::string& content);

}  // namespace signd
