#include "service_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "varo/socket_deadline.h"
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
  int why = 0;
  if (varo::connectBefore(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address,
                          varo::SteadyClock::now() + std::chrono::milliseconds(kProbeMs), &why))
    return std::nullopt;
  if (why == ETIMEDOUT) return QString("no connection within %1 ms").arg(kProbeMs);
  return systemError(why);
}

}  // namespace reader
