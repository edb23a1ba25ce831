// A scripted stand-in for the local signing service, for tests: listens on
// 127.0.0.1 (port 9990 by default) in a thread of its own, answers each
// connection by the first rule whose pattern the request contains, records
// every request, and closes each connection right after its answer.
//
// Bounded: a request is read up to 64 KiB; it ends when its braces balance,
// when it is the bare PIN request, when the client closes, or after a short
// quiet period. Stopping (also by the destructor) ends a held connection at
// once, so no test waits on the client's receive timeout.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varo::testing {

struct FakeReply {
  enum class Mode {
    Reply,  // send text, then close
    // Close as soon as the connection is accepted, reading nothing. Since no
    // request is seen, this applies as the default or for the pattern "".
    CloseAtOnce,
    Silent,  // read the request, send nothing, close after holdMs
    // Send text, then one more byte every holdMs, never closing: until the
    // client goes away or the service stops.
    Trickle,
  };
  std::string text;
  Mode mode = Mode::Reply;
  int holdMs = 0;  // Reply and Silent: wait this long before answering/closing
  // Files (path, content) written before the answer is sent.
  std::vector<std::pair<std::string, std::string>> files;

  static FakeReply of(std::string t) { return FakeReply{std::move(t), Mode::Reply, 0, {}}; }
  static FakeReply silent(int holdMs = 0) { return FakeReply{{}, Mode::Silent, holdMs, {}}; }
  static FakeReply closeAtOnce() { return FakeReply{{}, Mode::CloseAtOnce, 0, {}}; }
  static FakeReply trickle(std::string t, int everyMs) {
    return FakeReply{std::move(t), Mode::Trickle, everyMs, {}};
  }
};

class FakeService {
 public:
  static constexpr unsigned short kDefaultPort = 9990;
  static constexpr size_t kMaxRequest = 64 * 1024;

  FakeService() = default;
  ~FakeService() { stop(); }
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  // Binds and starts answering; a failure that says what holds the port when
  // it cannot be bound. Port 0 picks a free port; port() tells which.
  ::testing::AssertionResult start(unsigned short port = kDefaultPort);
  void stop();
  unsigned short port() const { return port_; }

  // Requests containing pattern get reply; rules are tried in the order
  // added. Without a matching rule the default reply is used (initially an
  // empty reply: the connection is closed without data).
  void on(std::string pattern, FakeReply reply);
  void on(std::string pattern, std::string replyText) {
    on(std::move(pattern), FakeReply::of(std::move(replyText)));
  }
  void setDefault(FakeReply reply);
  void clearRules();

  std::vector<std::string> requests() const;
  size_t requestCount() const;
  // How many recorded requests contain pattern.
  size_t countRequests(const std::string& pattern) const;
  void clearRequests();

 private:
  void serve();
  void handle(int fd);
  std::string readRequest(int fd);
  FakeReply replyFor(const std::string& request) const;
  // Waits up to ms for fd to become readable or for a stop; false on stop.
  bool waitReadable(int fd, int ms) const;

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, FakeReply>> rules_;
  FakeReply default_ = FakeReply::of("");
  std::vector<std::string> requests_;
  int listenFd_ = -1;
  unsigned short port_ = 0;
  int wakeFds_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace varo::testing
