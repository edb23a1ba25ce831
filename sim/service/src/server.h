// The listening side: 127.0.0.1, one request per connection, a bounded
// request, the reply, then close. Runs until stop() is called from a signal
// handler (SIGTERM, SIGINT).
#pragma once

#include <csignal>
#include <string>

#include "handler.h"
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
  Server(const Handler& handler, const ServiceLog& log, ServerLimits limits = ServerLimits())
      : handler_(handler), log_(log), limits_(limits) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with a log line on failure. port 0 picks a
  // free port; port() tells which.
  bool listen(int port);
  int port() const { return port_; }
  // Serves connections until a stop is requested.
  void run();

  static void requestStop() { stopRequested_ = 1; }

 private:
  void serveConnection(int fd);
  // The request text, or nullopt when it exceeds the bound (tooLarge set)
  // or nothing arrived.
  std::optional<std::string> readRequest(int fd, bool* tooLarge);

  const Handler& handler_;
  const ServiceLog& log_;
  ServerLimits limits_;
  int listenFd_ = -1;
  int port_ = 0;
  static volatile std::sig_atomic_t stopRequested_;
};

}  // namespace signd
