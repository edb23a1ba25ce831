// The service's log: one line per event, "yyyy-MM-dd hh:mm:ss<TAB>text",
// appended to the log file (or written to stderr without one). Nothing
// secret is ever passed in: requests do not carry the PIN, and the PIN
// answer is logged only as "answered" or "cancelled".
#pragma once

#include <string>

namespace signd {

class ServiceLog {
 public:
  // path empty: log to stderr.
  explicit ServiceLog(std::string path) : path_(std::move(path)) {}
  // False when the log file cannot be opened for appending.
  bool usable() const;
  void write(const std::string& text) const;

 private:
  std::string path_;
};

}  // namespace signd
