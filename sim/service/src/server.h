// The listening side: a numeric address (127.0.0.1 for the signing
// service), one request per connection, a bounded request, the reply, then
// close. Runs until stop() is called from a signal handler (SIGTERM, SIGINT).
#pragma once

#include <csignal>
#include <optional>
#include <string>

#include "request_handler.h"
#include "service_log.h"

namespace signd {

struct ServerLimits {
  size_t maxRequest = 64 * 1024;
  // A request is taken as whole once this long passes without new bytes.
  int quietMs = 500;
  // At most this long for one request to arrive.
  int requestMs = 5000;
};

class Server {
 public:
  Server(const RequestHandler& handler, const ServiceLog& log, ServerLimits limits = ServerLimits())
      : handler_(handler), log_(log), limits_(limits) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens on a numeric IPv4 or IPv6 address; false with a log
  // line on failure. port 0 picks a free port; port() tells which.
  bool listen(const std::string& address, int port);
  bool listen(int port) { return listen("127.0.0.1", port); }
  int port() const { return port_; }
  // Serves connections until a stop is requested.
  void run();

  static void requestStop() { stopRequested_ = 1; }
  // SIGTERM and SIGINT stop run() (blocking calls are not restarted, so the
  // loop sees the request); SIGPIPE is ignored.
  static void stopOnSignals();

 private:
  void serveConnection(int fd);
  // The request text, or nullopt when it exceeds the bound (tooLarge set)
  // or nothing arrived.
  std::optional<std::string> readRequest(int fd, bool* tooLarge);

  const RequestHandler& handler_;
  const ServiceLog& log_;
  ServerLimits limits_;
  int listenFd_ = -1;
  int port_ = 0;
  static volatile std::sig_atomic_t stopRequested_;
};

// A TCP port given on a command line: decimal, 0 to 65535.
bool parsePort(const char* text, int* port);

}  // namespace signd
