#include "service_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "varo/unique_fd.h"

namespace reader {

namespace {
// A loopback connection is taken or refused at once; a service that lets
// it wait this long is not answering either.
constexpr int kProbeMs = 1000;

QString systemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}
}  // namespace

std::optional<QString> serviceSilence() {
  varo::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return "no socket: " + systemError(errno);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kServicePort);
  ::inet_pton(AF_INET, kServiceAddress, &address.sin_addr);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return std::nullopt;
  if (errno != EINPROGRESS) return systemError(errno);
  pollfd p{fd.get(), POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, kProbeMs);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return QString("no connection within %1 ms").arg(kProbeMs);
  if (ready < 0) return systemError(errno);
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return systemError(errno);
  if (error != 0) return systemError(error);
  return std::nullopt;
}

}  // namespace reader
