#include "policy.h"

#include <fstream>

namespace signd {

std::string policyAnswer(const std::string& policyFile, const std::string& identifier) {
  if (policyFile.empty()) return kDefaultAnswer;
  std::ifstream in(policyFile);
  std::string line, wildcard;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), answer = line.substr(tab + 1);
    if (key == identifier) return answer;
    if (key == "*" && wildcard.empty()) wildcard = answer;
  }
  return wildcard.empty() ? kDefaultAnswer : wildcard;
}

}  // namespace signd
