// A service program (varo-signd, varo-sealserver) as a child process of a
// test, and a client for one request on a fresh connection.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace varo::testing {

class DaemonProcess {
 public:
  // Starts program with args, in a session of its own (no controlling
  // terminal), and waits for its line "<program> listening on
  // <address>:<port>" (at most 5 s).
  DaemonProcess(const std::string& program, const std::vector<std::string>& args);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  // Sends the signal and waits (at most timeoutMs) for the exit; the exit
  // status (WEXITSTATUS), or nullopt when it did not exit normally in time.
  std::optional<int> stop(int signal, int timeoutMs = 3000);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Runs program with args to its end (for option errors); its exit status, -1
// when it did not end within 5 s.
int runToExit(const std::string& program, const std::vector<std::string>& args);

// One request on a fresh connection to 127.0.0.1:port: sends the pieces
// (pausing pauseMs between them), then reads until the service closes
// (at most 5 s). nullopt when it cannot connect.
std::optional<std::string> ask(int port, const std::vector<std::string>& pieces, int pauseMs = 0);
inline std::optional<std::string> ask(int port, const std::string& request) {
  return ask(port, std::vector<std::string>{request});
}

}  // namespace varo::testing
