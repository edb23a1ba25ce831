// Writing a whole buffer to a blocking descriptor: short writes are
// continued and interrupted calls retried.
#pragma once

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>

namespace varo {

// write(2) until all n bytes are out; false on an error.
inline bool writeAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

// send(2) until all n bytes are out; false on an error or when the peer has
// gone. MSG_NOSIGNAL: a peer that closed early must not end the process with
// SIGPIPE.
inline bool sendAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace varo
