#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

int listenOnLoopback(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("bind");
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

FakeServer::FakeServer(std::string reply, size_t expectedRequest)
    : reply_(std::move(reply)), expected_(expectedRequest) {
  listenFd_ = listenOnLoopback(&port_);
  thread_ = std::thread([this] { serve(); });
}

FakeServer::~FakeServer() {
  join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void FakeServer::join() {
  if (thread_.joinable()) thread_.join();
}

void FakeServer::serve() {
  pollfd p{listenFd_, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0) return;
  int fd = ::accept(listenFd_, nullptr, nullptr);
  if (fd < 0) return;
  char chunk[4096];
  while (request_.size() < expected_) {
    pollfd q{fd, POLLIN, 0};
    if (::poll(&q, 1, 2000) <= 0) break;
    ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    request_.append(chunk, static_cast<size_t>(n));
  }
  size_t sent = 0;
  while (sent < reply_.size()) {
    ssize_t n = ::send(fd, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::close(fd);
}

int unusedLoopbackPort() {
  int port = 0;
  int fd = listenOnLoopback(&port);
  ::close(fd);
  return port;
}
