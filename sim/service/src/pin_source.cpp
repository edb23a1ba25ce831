#include "pin_source.h"
#include "varo/unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <chrono>
#include <fstream>

namespace signd {
namespace {

// The whole dialog ends in time for the provider, which waits 60 s for the
// reply: a user who does not answer is reported as cancelling, not as a
// service that said nothing.
constexpr int kAnswerTimeoutMs = 50000;

using Fd = varo::UniqueFd;

// Echo off for the scope, restored on every path.
class NoEcho {
 public:
  explicit NoEcho(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;
  bool active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

PinAnswer cancelled(const char* why) {
  return {PinOutcome::Cancelled, {}, why};
}

// A line typed on the terminal, without its line end; nullopt on end of
// input, error or timeout. Reads one byte at a time so nothing after the
// line is consumed.
std::optional<std::string> readTerminalLine(int fd) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  std::string line;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) {
      wipe(line);
      return std::nullopt;
    }
    char c = 0;
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) {
      wipe(line);
      return std::nullopt;
    }
    if (c == '\n') return line;
    // Keep reading past the limit so the rest of the line is not left for
    // the next prompt; the length check refuses it afterwards.
    if (line.size() <= kMaxPinLength) line.push_back(c);
  }
}

PinAnswer fromTerminal() {
  Fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.get() < 0) return cancelled("no terminal to ask on");
  NoEcho noEcho(tty.get());
  if (!noEcho.active()) return cancelled("cannot switch off the terminal echo");
  static const char kPrompt[] = "varo-signd: PIN for signing (empty line cancels): ";
  ssize_t ignored = ::write(tty.get(), kPrompt, sizeof(kPrompt) - 1);
  (void)ignored;
  auto line = readTerminalLine(tty.get());
  if (!line) return cancelled("no answer on the terminal");
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return {PinOutcome::Answered, std::move(*line), {}};
}

PinAnswer fromFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return cancelled("PIN file unreadable or empty");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return {PinOutcome::Answered, std::move(line), {}};
}

// The reply carries the PIN between "PIN":" and the first "\"}": a quote,
// a backslash or a control character would cut or corrupt it, and a wrong
// PIN costs a retry on the key.
bool carriable(const std::string& pin) {
  if (pin.size() > kMaxPinLength) return false;
  for (unsigned char c : pin)
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return false;
  return true;
}

}  // namespace

void wipe(std::string& s) {
  if (!s.empty()) OPENSSL_cleanse(&s[0], s.size());
  s.clear();
}

PinAnswer askPin(const std::string& pinFile) {
  PinAnswer answer = pinFile.empty() ? fromTerminal() : fromFile(pinFile);
  if (answer.outcome != PinOutcome::Answered) return answer;
  if (answer.pin.empty()) return cancelled("empty PIN");
  if (!carriable(answer.pin)) {
    wipe(answer.pin);
    return {PinOutcome::Refused,
            {},
            "PIN longer than 49 characters or with characters the reply cannot carry"};
  }
  return answer;
}

std::string pinReply(const PinAnswer& answer) {
  switch (answer.outcome) {
    case PinOutcome::Answered:
      return "{\"PIN\":\"" + answer.pin + "\"}";
    case PinOutcome::Refused:
      return "{}";  // a reply without a PIN: the provider reports a PIN failure
    case PinOutcome::Cancelled:
      break;
  }
  // Wrapped in JSON: the provider's client only hands on replies that hold
  // "{" or "ERROR:", so a bare word would reach it as no reply at all.
  return "{\"RESULT\":\"USERCANCELED\"}";
}

}  // namespace signd
