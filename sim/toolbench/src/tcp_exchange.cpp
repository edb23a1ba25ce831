#include "tcp_exchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "varo/socket_deadline.h"
#include "varo/unique_fd.h"

namespace toolbench {
namespace {

using Clock = varo::SteadyClock;

// A socket address for a numeric IPv4 or IPv6 address.
bool makeAddress(const std::string& address, int port, sockaddr_storage* out, socklen_t* len) {
  std::memset(out, 0, sizeof(*out));
  auto* v4 = reinterpret_cast<sockaddr_in*>(out);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    *len = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    *len = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> exchange(const std::string& address, int port, varo::ByteSpan request,
                                    const ExchangeLimits& limits) {
  sockaddr_storage addr;
  socklen_t addrLen = 0;
  if (port < 1 || port > 65535 || !makeAddress(address, port, &addr, &addrLen)) return std::nullopt;
  varo::UniqueFd sock(::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (sock.get() < 0 ||
      !varo::connectBefore(sock.get(), reinterpret_cast<const sockaddr*>(&addr), addrLen,
                           Clock::now() + std::chrono::milliseconds(limits.connectTimeoutMs)))
    return std::nullopt;

  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.exchangeTimeoutMs);
  if (!varo::sendAllBefore(sock.get(), request.data(), request.size(), deadline))
    return std::nullopt;

  std::string reply;
  char chunk[4096];
  while (reply.size() < limits.maxReply) {
    size_t want = std::min(sizeof(chunk), limits.maxReply - reply.size());
    ssize_t n = ::recv(sock.get(), chunk, want, 0);
    if (n > 0) {
      reply.append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      break;  // the peer closed: the reply is complete
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!varo::waitReady(sock.get(), POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return reply;
}

}  // namespace toolbench
