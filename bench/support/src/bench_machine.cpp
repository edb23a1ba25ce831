#include "varo/bench_machine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "varo/trace.h"
#include "varo/unique_fd.h"

namespace varo::bench {

namespace {

// A "Name:   123 kB" line of /proc/self/status, in bytes.
size_t statusBytes(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + ":") != 0) continue;
    std::istringstream fields(line.substr(key.size() + 1));
    size_t kib = 0;
    fields >> kib;
    return kib * 1024;
  }
  return 0;
}

}  // namespace

size_t residentBytes() {
  return statusBytes("VmRSS");
}

size_t peakResidentBytes() {
  return statusBytes("VmHWM");
}

bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return bool(out);
}

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = -1;
  in >> one;
  return one;
}

std::string machineLine() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.compare(0, 10, "model name") != 0) continue;
    const size_t colon = line.find(':');
    if (colon != std::string::npos) model = line.substr(line.find_first_not_of(' ', colon + 1));
    break;
  }
  std::ifstream loadavg("/proc/loadavg");
  std::string a, b, c;
  loadavg >> a >> b >> c;
  return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " logical CPUs, load " + a +
         " " + b + " " + c;
}

bool portInUse(int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool waitForFreePort(int port, int maxSeconds) {
  for (int i = 0; i < maxSeconds && portInUse(port); ++i)
    std::this_thread::sleep_for(std::chrono::seconds(1));
  return !portInUse(port);
}

bool traceDirectoryPresent() {
  return trace::active();
}

}  // namespace varo::bench
