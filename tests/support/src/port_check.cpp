#include "varo/port_check.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "varo/unique_fd.h"

namespace varo::testing {

namespace {

constexpr const char* kListening = "0A";  // TCP_LISTEN in /proc/net/tcp
constexpr size_t kShownCommand = 120;

// True when nothing keeps a socket from binding 127.0.0.1:port (sockets
// waiting out a closed connection do not count, as for every service here).
bool canBind(unsigned short port, int* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    *error = errno;
    return false;
  }
  int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
  *error = errno;
  return false;
}

// The inodes of the listening sockets on port in one /proc/net table.
void listeningInodes(const char* table, unsigned short port, std::set<std::string>* inodes) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    const size_t colon = local.rfind(':');
    if (!fields || colon == std::string::npos || state != kListening) continue;
    if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port) inodes->insert(inode);
  }
}

std::string commandOf(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string command((std::istreambuf_iterator<char>(in)), {});
  while (!command.empty() && command.back() == '\0') command.pop_back();
  for (char& c : command)
    if (c == '\0') c = ' ';
  if (command.size() > kShownCommand) command = command.substr(0, kShownCommand) + "...";
  return command.empty() ? "?" : command;
}

// "pid N (command)" for every process one of whose descriptors is one of
// the sockets; the processes this user may not look into are missing.
std::vector<std::string> holders(const std::set<std::string>& inodes) {
  std::vector<std::string> found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    bool holds = false;
    while (dirent* fd = ::readdir(fds)) {
      char target[64] = {};
      const std::string link = fdDir + "/" + fd->d_name;
      if (::readlink(link.c_str(), target, sizeof target - 1) <= 0) continue;
      const std::string text = target;
      if (text.rfind("socket:[", 0) == 0 && inodes.count(text.substr(8, text.size() - 9)))
        holds = true;
    }
    ::closedir(fds);
    if (holds) found.push_back("pid " + pid + " (" + commandOf(pid) + ")");
  }
  ::closedir(proc);
  return found;
}

}  // namespace

std::string portInUse(unsigned short port) {
  int error = 0;
  if (canBind(port, &error)) return "";
  const std::string where = "127.0.0.1:" + std::to_string(port);
  if (error != EADDRINUSE) return where + " cannot be bound: " + std::strerror(error);
  std::set<std::string> inodes;
  listeningInodes("/proc/net/tcp", port, &inodes);
  listeningInodes("/proc/net/tcp6", port, &inodes);
  const std::vector<std::string> found = holders(inodes);
  if (found.empty()) return where + " is in use by another process";
  std::string text = where + " is in use by ";
  for (size_t i = 0; i < found.size(); ++i) text += (i ? ", " : "") + found[i];
  return text;
}

::testing::AssertionResult servicePortFree(unsigned short port) {
  const std::string held = portInUse(port);
  if (held.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << held << ", and this test needs that port: stop that process, or run the tests in a "
         << "private network (./run test does so where it can)";
}

}  // namespace varo::testing
