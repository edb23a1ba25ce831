#include "server.h"

#include <signal.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "request_text.h"

namespace signd {

volatile std::sig_atomic_t Server::stopRequested_ = 0;

namespace {

using Clock = std::chrono::steady_clock;

class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { ::close(fd_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

int msUntil(Clock::time_point t) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

constexpr int kSendMs = 5000;

void sendAll(int fd, const std::string& data) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSendMs);
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, msUntil(deadline)) > 0) continue;
    }
    if (n <= 0) return;  // the client went away or stalled; nothing more to do
    done += static_cast<size_t>(n);
  }
}

// After refusing a request: stop sending, then read and drop what the client
// is still sending (for a moment, within a bound) so that closing does not
// reset the connection before the client has read the refusal.
void drainAfterRefusal(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + std::chrono::milliseconds(1000);
  char chunk[4096];
  for (size_t dropped = 0; dropped < (1u << 20);) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, msUntil(deadline)) <= 0) return;
    ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;
    dropped += static_cast<size_t>(n);
  }
}

}  // namespace

Server::~Server() {
  if (listenFd_ >= 0) ::close(listenFd_);
}

bool Server::listen(const std::string& address, int port) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_storage addr{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof(*v4);
  } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof(*v6);
  } else {
    log_.write("cannot listen on " + where + ": not a numeric address");
    return false;
  }
  listenFd_ = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    log_.write(std::string("cannot create a socket: ") + std::strerror(errno));
    return false;
  }
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    log_.write("cannot listen on " + where + ": " + std::strerror(errno));
    return false;
  }
  port_ = ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
  return true;
}

void Server::run() {
  while (!stopRequested_) {
    pollfd p{listenFd_, POLLIN, 0};
    // A short wait, so that a stop requested just before poll() is seen soon.
    int r = ::poll(&p, 1, 200);
    if (r <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) serveConnection(fd);
  }
}

std::optional<std::string> Server::readRequest(int fd, bool* tooLarge) {
  *tooLarge = false;
  std::string text;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.requestMs);
  char chunk[4096];
  while (!stopRequested_) {
    int wait = msUntil(deadline);
    if (!text.empty()) wait = std::min(wait, limits_.quietMs);
    if (wait == 0) break;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // quiet or deadline: take what arrived
    ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // the client closed (COM 4 does so at once)
    if (text.size() + static_cast<size_t>(n) > limits_.maxRequest) {
      *tooLarge = true;
      return std::nullopt;
    }
    text.append(chunk, static_cast<size_t>(n));
    if (requestComplete(text)) break;
  }
  if (text.empty()) return std::nullopt;
  return text;
}

void Server::serveConnection(int fd) {
  Connection connection(fd);
  bool tooLarge = false;
  auto request = readRequest(fd, &tooLarge);
  if (tooLarge) {
    log_.write("request refused: larger than " + std::to_string(limits_.maxRequest) + " bytes");
    sendAll(fd, "ERROR: request too large");
    drainAfterRefusal(fd);
    return;
  }
  if (!request) return;
  auto reply = handler_.handle(*request);
  if (!reply) return;
  sendAll(fd, *reply);
  // A reply may carry the PIN: leave no copy in freed memory.
  OPENSSL_cleanse(reply->data(), reply->size());
}

namespace {
extern "C" void onStopSignal(int) {
  Server::requestStop();
}
}  // namespace

void Server::stopOnSignals() {
  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool parsePort(const char* text, int* port) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno || !*text || *end || value < 0 || value > 65535) return false;
  *port = static_cast<int>(value);
  return true;
}

}  // namespace signd
