// Base names of a seal's chunk files: the time of day "hhmmsszzz" at the
// write, moved on one millisecond at a time until no chunk name of the new
// seal is a file on the key and no entry of the index uses it.
#pragma once

#include <QString>

#include <set>
#include <string>

namespace gm3000 {

// The chunk names a replacement removes for an old seal: base + 0 to 4.
inline constexpr int kReplacedChunks = 5;

// The base name one millisecond later (after 23:59:59.999 comes 00:00:00.000).
QString nextBaseName(const QString& base);

// The first free base name from start on; empty when none of the next 1000
// is free. files are the key's file names, taken the base names its index
// uses, chunks the number of chunks of the new seal.
QString freeBaseName(const QString& start, const std::set<std::string>& files,
                     const std::set<QString>& taken, int chunks);

}  // namespace gm3000
