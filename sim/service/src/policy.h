// Answers to the seal-standing query (COM 3), from the policy file, read
// again for every query. Lines "identifier<TAB>answer name" (for example
// "S1<TAB>ERR_OUTTIME"); the identifier "*" applies to every seal without a
// line of its own. Empty lines and lines starting with "#" are skipped.
// Without a file, or for a seal it does not name, the answer is "ERR_NOERR".
#pragma once

#include <string>

namespace signd {

inline constexpr const char* kDefaultAnswer = "ERR_NOERR";

std::string policyAnswer(const std::string& policyFile, const std::string& identifier);

}  // namespace signd
