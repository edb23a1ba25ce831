#include "varo/fake_service.h"

#include "varo/fd_io.h"
#include "varo/port_check.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

namespace varo::testing {

namespace {

constexpr int kQuietMs = 200;  // a request that stops growing this long is taken as complete
constexpr const char* kPinRequest = "InputPINDlg";

// True once a JSON request's outermost braces have closed.
bool isComplete(const std::string& request) {
  if (request == kPinRequest) return true;
  if (request.empty() || request[0] != '{') return false;
  int depth = 0;
  bool inString = false;
  for (char c : request) {
    if (c == '"') inString = !inString;
    if (inString) continue;
    if (c == '{') ++depth;
    if (c == '}' && --depth == 0) return true;
  }
  return false;
}

}  // namespace

::testing::AssertionResult FakeService::start(unsigned short port) {
  stop();
  // A port another process holds is named as such, with what holds it.
  if (port != 0) {
    ::testing::AssertionResult free = servicePortFree(port);
    if (!free) return free;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ::testing::AssertionFailure() << "no socket: " << std::strerror(errno);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 || ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(fd);
    return ::testing::AssertionFailure() << "the fake service cannot listen on 127.0.0.1:" << port
                                         << ": " << std::strerror(error);
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  listenFd_ = fd;
  stopping_ = false;
  thread_ = std::thread(&FakeService::serve, this);
  return ::testing::AssertionSuccess();
}

void FakeService::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  char byte = 0;
  (void)!::write(wakeFds_[1], &byte, 1);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
  listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;
}

void FakeService::on(std::string pattern, FakeReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.emplace_back(std::move(pattern), std::move(reply));
}

void FakeService::setDefault(FakeReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_ = std::move(reply);
}

void FakeService::clearRules() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
  default_ = FakeReply::of("");
}

std::vector<std::string> FakeService::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t FakeService::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

size_t FakeService::countRequests(const std::string& pattern) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const std::string& r : requests_)
    if (r.find(pattern) != std::string::npos) ++n;
  return n;
}

void FakeService::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

bool FakeService::waitReadable(int fd, int ms) const {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
  int n = ::poll(fds, 2, ms);
  if (stopping_ || (fds[1].revents & POLLIN)) return false;
  return n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
}

void FakeService::serve() {
  while (!stopping_) {
    if (!waitReadable(listenFd_, 1000)) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    handle(fd);
    ::close(fd);
  }
}

std::string FakeService::readRequest(int fd) {
  std::string request;
  char chunk[4096];
  while (request.size() < kMaxRequest && !isComplete(request)) {
    if (!waitReadable(fd, kQuietMs)) break;
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    request.append(chunk, size_t(n));
  }
  if (request.size() > kMaxRequest) request.resize(kMaxRequest);
  return request;
}

FakeReply FakeService::replyFor(const std::string& request) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& rule : rules_)
    if (request.find(rule.first) != std::string::npos) return rule.second;
  return default_;
}

void FakeService::handle(int fd) {
  // A rule for "" closing at once applies before anything is read.
  FakeReply first = replyFor("");
  if (first.mode == FakeReply::Mode::CloseAtOnce) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.emplace_back();
    return;
  }
  std::string request = readRequest(fd);
  FakeReply reply = replyFor(request);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  if (reply.mode == FakeReply::Mode::CloseAtOnce) return;
  for (const auto& file : reply.files) {
    std::ofstream out(file.first, std::ios::binary | std::ios::trunc);
    out.write(file.second.data(), std::streamsize(file.second.size()));
  }
  if (reply.mode == FakeReply::Mode::Trickle) {
    bool sent = varo::sendAll(fd, reply.text.data(), reply.text.size());
    while (sent && !stopping_) {
      pollfd wake = {wakeFds_[0], POLLIN, 0};
      if (::poll(&wake, 1, reply.holdMs > 0 ? reply.holdMs : 1) > 0) break;
      sent = varo::sendAll(fd, "x", 1);
    }
    return;
  }
  if (reply.holdMs > 0) {
    // Held until the time is up or the service stops; data from the client
    // while held is ignored.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.holdMs);
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
      pollfd wake = {wakeFds_[0], POLLIN, 0};
      if (::poll(&wake, 1, 20) > 0) break;
    }
  }
  if (reply.mode == FakeReply::Mode::Reply && !stopping_)
    varo::sendAll(fd, reply.text.data(), reply.text.size());
}

}  // namespace varo::testing
