#include "varo/daemon_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace varo::testing {
namespace {

pid_t spawn(const std::string& program, const std::vector<std::string>& args, int stdoutFd) {
  std::vector<char*> argv;
  std::string path = program;
  argv.push_back(path.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

std::optional<int> waitExit(pid_t pid, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

DaemonProcess::DaemonProcess(const std::string& program, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = spawn(program, args, fds[1]);
  ::close(fds[1]);
  std::string line;
  char c;
  while (pid_ > 0 && line.find('\n') == std::string::npos) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0 || ::read(fds[0], &c, 1) != 1) break;
    line.push_back(c);
  }
  ::close(fds[0]);
  // "<program> listening on <address>:<port>"; the port follows the last ":".
  const size_t colon = line.rfind(':');
  if (line.find(" listening on ") != std::string::npos && colon != std::string::npos)
    port_ = std::atoi(line.c_str() + colon + 1);
}

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0 && !stop(SIGTERM)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> DaemonProcess::stop(int signal, int timeoutMs) {
  if (pid_ <= 0) return std::nullopt;
  ::kill(pid_, signal);
  auto status = waitExit(pid_, timeoutMs);
  if (status) pid_ = -1;
  return status;
}

int runToExit(const std::string& program, const std::vector<std::string>& args) {
  pid_t pid = spawn(program, args, -1);
  auto status = waitExit(pid, 5000);
  if (!status) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return *status;
}

std::optional<std::string> ask(int port, const std::vector<std::string>& pieces, int pauseMs) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i && pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    ::send(fd, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
  }
  std::string reply;
  char chunk[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    reply.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return reply;
}

}  // namespace varo::testing
