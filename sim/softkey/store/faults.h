// Fault injection: rules in the file "faults" of the store make calls fail.
//
// One rule per line:   FUNCTION CODE [name=NAME] [count=N] [skip=N] [exit]
//   FUNCTION  the exported function name, or "*" for every function
//   CODE      the result code to return (0x... or decimal, not 0)
//   name=     only calls that involve this device, application, container
//             or file name
//   count=    fail this many matching calls, then the rule is removed
//   skip=     let this many matching calls pass before the rule applies
//   exit      instead of failing the call, end the calling process at once
//             (exit status kFaultExitStatus), as a pulled key or a power cut
//             would end it in the middle of its work
// Blank lines and lines starting with "#" are ignored and kept. The file is
// read on every call; counters are updated under a lock in the store and the
// file is replaced atomically, so rules act across processes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace varo::softkey {

inline constexpr const char* kFaultFileName = "faults";
// The exit status of a process ended by an "exit" rule.
inline constexpr int kFaultExitStatus = 86;

struct FaultRule {
  std::string function;
  uint32_t code = 0;
  std::string name;    // empty: any
  int64_t count = -1;  // -1: unlimited
  uint32_t skip = 0;
  bool exitProcess = false;
};

bool parseFaultRule(std::string_view line, FaultRule* rule);
std::string formatFaultRule(const FaultRule& rule);

// The code of the first rule that matches the call (consuming one use of it),
// or 0 when no rule applies.
uint32_t takeFault(const std::string& store, std::string_view function,
                   std::initializer_list<std::string_view> names);

bool appendFaultRule(const std::string& store, const FaultRule& rule);
std::vector<FaultRule> readFaultRules(const std::string& store);
bool clearFaultRules(const std::string& store);

}  // namespace varo::softkey
