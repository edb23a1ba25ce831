// A one-connection TCP server on an ephemeral loopback port, for exercising
// clients: it accepts once, reads the expected request, sends a scripted
// reply (or nothing) and closes.
#pragma once

#include <string>
#include <thread>

class FakeServer {
 public:
  // expectedRequest: the number of request bytes to read before replying
  // (reading also ends when the client closes or after two quiet seconds).
  FakeServer(std::string reply, size_t expectedRequest);
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const { return port_; }
  // The request bytes received; valid after join().
  const std::string& request() const { return request_; }
  void join();

 private:
  void serve();

  std::string reply_;
  size_t expected_;
  int listenFd_ = -1;
  int port_ = 0;
  std::string request_;
  std::thread thread_;
};

// A loopback port on which nothing listens (bound, then released).
int unusedLoopbackPort();
