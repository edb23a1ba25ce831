#include "seal_index.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace signd {
namespace {

constexpr size_t kMaxIdentifier = 99;

std::vector<std::string> splitOn(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!s.empty() && s.back() == sep) parts.emplace_back();
  return parts;
}

std::optional<std::string> readSealFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string der;
  der.resize(kMaxSealSize + 1);
  in.read(der.data(), static_cast<std::streamsize>(der.size()));
  der.resize(static_cast<size_t>(in.gcount()));
  if (der.empty() || der.size() > kMaxSealSize) return std::nullopt;
  return der;
}

// The entry of one index line, or an explanation of why it is skipped.
std::optional<SealEntry> parseLine(const std::string& directory, const std::string& line,
                                   std::string* why) {
  auto columns = splitOn(line, '\t');
  if (columns.size() < 2 || columns.size() > 4) {
    *why = "expected 2 to 4 tab-separated columns";
    return std::nullopt;
  }
  SealEntry e;
  const std::string& file = columns[0];
  e.sealId = columns[1];
  if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") {
    *why = "the file column must be a plain file name";
    return std::nullopt;
  }
  auto fields = splitOn(e.sealId, '@');
  if (fields.size() < 3 || !jsonSafe(e.sealId)) {
    *why = "the seal id must be identifier@DEVICEURL@DLLNAME without quotes or backslashes";
    return std::nullopt;
  }
  e.identifier = fields[0];
  e.deviceUrl = fields[1];
  e.dllName = fields[2];
  if (!safeIdentifier(e.identifier)) {
    *why = "the seal identifier cannot name a file";
    return std::nullopt;
  }
  e.name = columns.size() > 2 ? columns[2] : e.identifier;
  e.standard = columns.size() > 3 ? columns[3] : "1";
  if (!jsonSafe(e.name) || !jsonSafe(e.standard)) {
    *why = "name and standard must not hold quotes, backslashes or control characters";
    return std::nullopt;
  }
  e.file = directory + "/" + file;
  auto der = readSealFile(e.file);
  if (!der) {
    *why = "the seal file is missing, empty or larger than 204800 bytes";
    return std::nullopt;
  }
  e.der = std::move(*der);
  return e;
}

}  // namespace

bool jsonSafe(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return false;
  return true;
}

bool safeIdentifier(const std::string& identifier) {
  if (identifier.empty() || identifier.size() > kMaxIdentifier || identifier == "." ||
      identifier == "..")
    return false;
  for (unsigned char c : identifier)
    if (c < 0x20 || c == 0x7f || c == '/' || c == '"' || c == '\\') return false;
  return true;
}

std::optional<std::vector<SealEntry>> loadSeals(const std::string& directory,
                                                const ServiceLog& log) {
  std::ifstream index(directory + "/" + kIndexFileName);
  if (!index) return std::nullopt;
  std::vector<SealEntry> seals;
  std::string line;
  for (int number = 1; std::getline(index, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string why;
    if (auto entry = parseLine(directory, line, &why))
      seals.push_back(std::move(*entry));
    else
      log.write("index line " + std::to_string(number) + " skipped: " + why);
  }
  return seals;
}

}  // namespace signd
