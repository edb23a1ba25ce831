#include "faults.h"

#include <unistd.h>

#include <cstdlib>

#include "files.h"

namespace varo::softkey {

namespace {

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool parseNumber(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  std::string s(text);
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (end != s.c_str() + s.size() || s[0] == '-' || v > max) return false;
  *out = v;
  return true;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::string faultPath(const std::string& store) {
  return store + "/" + kFaultFileName;
}
std::string lockPath(const std::string& store) {
  return store + "/.faults.lock";
}

bool writeLines(const std::string& store, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return writeFileAtomic(faultPath(store), text);
}

}  // namespace

bool parseFaultRule(std::string_view line, FaultRule* rule) {
  std::vector<std::string_view> w = splitWords(line);
  if (w.size() < 2 || w[0][0] == '#') return false;
  FaultRule r;
  r.function = std::string(w[0]);
  uint64_t v;
  if (!parseNumber(w[1], 0xFFFFFFFFu, &v) || v == 0) return false;
  r.code = uint32_t(v);
  for (size_t i = 2; i < w.size(); ++i) {
    std::string_view opt = w[i];
    if (opt.substr(0, 5) == "name=" && opt.size() > 5) {
      r.name = std::string(opt.substr(5));
    } else if (opt.substr(0, 6) == "count=" && parseNumber(opt.substr(6), 1u << 30, &v)) {
      r.count = int64_t(v);
    } else if (opt.substr(0, 5) == "skip=" && parseNumber(opt.substr(5), 1u << 30, &v)) {
      r.skip = uint32_t(v);
    } else if (opt == "exit") {
      r.exitProcess = true;
    } else {
      return false;
    }
  }
  *rule = std::move(r);
  return true;
}

std::string formatFaultRule(const FaultRule& rule) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", rule.code);
  std::string line = rule.function + " " + code;
  if (!rule.name.empty()) line += " name=" + rule.name;
  if (rule.count >= 0) line += " count=" + std::to_string(rule.count);
  if (rule.skip > 0) line += " skip=" + std::to_string(rule.skip);
  if (rule.exitProcess) line += " exit";
  return line;
}

uint32_t takeFault(const std::string& store, std::string_view function,
                   std::initializer_list<std::string_view> names) {
  // Fast path: without the file there is nothing to do, and no lock is taken.
  if (store.empty() || !fileExists(faultPath(store))) return 0;
  FileLock lock(lockPath(store), true);
  std::string text;
  if (!readWholeFile(faultPath(store), &text)) return 0;
  std::vector<std::string> lines = splitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    FaultRule r;
    if (!parseFaultRule(lines[i], &r)) continue;
    if (r.function != "*" && r.function != function) continue;
    if (!r.name.empty()) {
      bool involved = false;
      for (std::string_view n : names) involved = involved || n == r.name;
      if (!involved) continue;
    }
    if (r.count == 0) continue;
    if (r.skip == 0 && r.count < 0) {  // unlimited: nothing to update
      if (r.exitProcess) ::_exit(kFaultExitStatus);
      return r.code;
    }
    uint32_t result = 0;
    if (r.skip > 0) {
      --r.skip;
    } else {
      --r.count;
      result = r.code;
    }
    if (r.count == 0)
      lines.erase(lines.begin() + long(i));
    else
      lines[i] = formatFaultRule(r);
    // Without the lock the counter cannot be kept; the fault still applies.
    if (lock.held()) writeLines(store, lines);
    // The counter is on disk before the process ends, so a rule with a
    // count ends as many processes as it says.
    if (result != 0 && r.exitProcess) ::_exit(kFaultExitStatus);
    // A call that was let pass by skip= is not failed by a later rule either.
    return result;
  }
  return 0;
}

bool appendFaultRule(const std::string& store, const FaultRule& rule) {
  if (rule.function.empty() || rule.code == 0) return false;
  FileLock lock(lockPath(store), true);
  if (!lock.held()) return false;
  std::string text;
  readWholeFile(faultPath(store), &text);
  std::vector<std::string> lines = splitLines(text);
  lines.push_back(formatFaultRule(rule));
  return writeLines(store, lines);
}

std::vector<FaultRule> readFaultRules(const std::string& store) {
  std::vector<FaultRule> rules;
  std::string text;
  if (!readWholeFile(faultPath(store), &text)) return rules;
  for (const auto& line : splitLines(text)) {
    FaultRule r;
    if (parseFaultRule(line, &r)) rules.push_back(r);
  }
  return rules;
}

bool clearFaultRules(const std::string& store) {
  FileLock lock(lockPath(store), true);
  return ::unlink(faultPath(store).c_str()) == 0 || !fileExists(faultPath(store));
}

}  // namespace varo::softkey
