// Socket steps that end by a deadline, for non-blocking sockets: waiting
// until a descriptor is ready, connecting, and sending a whole buffer. A
// peer that never accepts, never reads or answers slowly cannot hold the
// caller past the deadline.
#pragma once

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>

namespace varo {

using SteadyClock = std::chrono::steady_clock;

// Whole milliseconds left until deadline, rounded up (a wait of a fraction
// of a millisecond is no wait of 0, which poll would take as "do not wait");
// 0 once it has passed.
inline int millisecondsLeft(SteadyClock::time_point deadline) {
  const auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7fffffff ? 0x7fffffff : int(ms);
}

// Waits until fd reports one of events (or an error or hang-up, which the
// next call on fd then reports); false once the deadline passes or poll
// fails. Interrupted waits go on with the time left.
inline bool waitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    const int left = millisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, left);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

// Connects the non-blocking socket fd to address; false when the connection
// is refused, fails, or is not made before the deadline, with the reason as
// an errno value in *why when given (ETIMEDOUT for the deadline).
inline bool connectBefore(int fd, const sockaddr* address, socklen_t size,
                          SteadyClock::time_point deadline, int* why = nullptr) {
  int error = 0;
  if (::connect(fd, address, size) == 0) return true;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno != EINPROGRESS && errno != EINTR) {
    error = errno;
  } else if (!waitReady(fd, POLLOUT, deadline)) {
    error = ETIMEDOUT;
  } else {
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  }
  if (why) *why = error;
  return error == 0;
}

// Sends all n bytes of data on the non-blocking socket fd; false on an
// error, when the peer has gone, or when the deadline passes first.
// MSG_NOSIGNAL: a peer that closed early must not end the process with
// SIGPIPE.
inline bool sendAllBefore(int fd, const void* data, size_t n, SteadyClock::time_point deadline) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      p += sent;
      n -= size_t(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitReady(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace varo
