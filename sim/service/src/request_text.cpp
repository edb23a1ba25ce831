#include "request_text.h"

namespace signd {
namespace {

std::string_view trimLeft(std::string_view s) {
  size_t i = s.find_first_not_of(" \t\r\n");
  return i == std::string_view::npos ? std::string_view() : s.substr(i);
}

bool objectBalanced(std::string_view s) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : s) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> fieldValue(std::string_view text, std::string_view key) {
  const std::string marker = "\"" + std::string(key) + "\":\"";
  size_t start = text.find(marker);
  if (start == std::string_view::npos) return std::nullopt;
  start += marker.size();
  size_t end = text.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(text.substr(start, end - start));
}

bool requestComplete(std::string_view text) {
  std::string_view t = trimLeft(text);
  if (t.empty()) return false;
  if (t[0] == '{') return objectBalanced(t);
  // Still a prefix of the PIN request: more may come.
  return !(t.size() < kPinDialogRequest.size() && kPinDialogRequest.substr(0, t.size()) == t);
}

std::string sealIdentifier(std::string_view sealId) {
  return std::string(sealId.substr(0, sealId.find('@')));
}

}  // namespace signd
