// The seals the service offers: one DER file per seal in the seal directory,
// listed by the index file "index.txt" of that directory.
//
// Index lines: FILE <TAB> SEALID [<TAB> SEALNAME [<TAB> STANDARD]]
//   FILE      a file name in the seal directory (no "/")
//   SEALID    the full seal id "identifier@DEVICEURL@DLLNAME"
//   SEALNAME  shown in the list; default: the identifier
//   STANDARD  the seal format standard code; default "1"
// Empty lines and lines starting with "#" are skipped. A line that breaks
// these rules, or whose seal file is missing, empty or over 204800 bytes, is
// skipped with a note in the log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service_log.h"

namespace signd {

inline constexpr const char* kIndexFileName = "index.txt";
// The provider reads at most this much of a seal file.
inline constexpr size_t kMaxSealSize = 204800;

struct SealEntry {
  std::string file;        // path of the DER file
  std::string sealId;      // full seal id
  std::string identifier;  // the part before the first "@"
  std::string deviceUrl;   // field 1 of the seal id
  std::string dllName;     // field 2 of the seal id
  std::string name;
  std::string standard;
  std::string der;
};

// True for a value that may go into the seal list unescaped: printable
// ASCII or UTF-8 without double quote, backslash or control character.
bool jsonSafe(const std::string& value);

// True for an identifier that may name a file under /tmp and stand in JSON:
// 1 to 99 bytes without control characters, "/", double quote or backslash,
// and neither "." nor "..".
bool safeIdentifier(const std::string& identifier);

// The seals of the directory in index order, or nullopt when the index file
// cannot be read.
std::optional<std::vector<SealEntry>> loadSeals(const std::string& directory,
                                                const ServiceLog& log);

}  // namespace signd
