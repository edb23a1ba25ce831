// The service client against listeners on the service port that never
// close, never accept or accept late: whatever they do, the whole exchange,
// connecting included, ends within its deadline of two quiet periods. Built
// with a quiet period of one second.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <list>
#include <string>
#include <thread>

#include "service_client.h"
#include "varo/fd_io.h"
#include "varo/port_check.h"
#include "varo/unique_fd.h"

namespace {

using namespace std::chrono;

static_assert(varo::service::kReceiveTimeoutSeconds == 1, "built with a short quiet period");
constexpr milliseconds kNever{-1};

sockaddr_in serviceAddress() {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(varo::service::kPort);
  ::inet_pton(AF_INET, varo::service::kAddress, &a.sin_addr);
  return a;
}

struct Behaviour {
  // The listener's backlog is filled before the client comes: the kernel
  // then drops the client's handshake until the listener accepts.
  bool fullBacklog;
  milliseconds acceptAfter;  // kNever: never accepts
  std::string reply;         // sent to each accepted connection
  milliseconds interval;     // then one byte every interval (0: none), never closing
};

// A listener on the service port that behaves as told until it goes.
class Listener {
 public:
  explicit Listener(const Behaviour& b)
      : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    int on = 1;
    ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = serviceAddress();
    listening_ = ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
                 ::listen(listener_.get(), b.fullBacklog ? 0 : 4) == 0;
    if (!listening_ || (b.fullBacklog && !fillBacklog())) return;
    ready_ = true;
    thread_ = std::thread([this, b] { serve(b); });
  }
  ~Listener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool listening() const { return listening_; }
  bool ready() const { return ready_; }

 private:
  // Connects until a handshake no longer completes, and drops that last
  // attempt, so that the client's is the next one the kernel holds back.
  bool fillBacklog() {
    const sockaddr_in a = serviceAddress();
    for (int i = 0; i < 16; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 200) == 0) {
        ::close(fd);
        return true;
      }
      fillers_.emplace_back(fd);
    }
    return false;
  }

  void serve(const Behaviour& b) {
    const auto start = steady_clock::now();
    auto lastByte = start;
    std::list<varo::UniqueFd> peers;
    while (!stop_) {
      const auto now = steady_clock::now();
      if (b.acceptAfter != kNever && now - start >= b.acceptAfter) {
        int fd;
        while ((fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >=
               0) {
          peers.emplace_back(fd);
          varo::sendAll(fd, b.reply.data(), b.reply.size());
        }
      }
      if (b.interval.count() && now - lastByte >= b.interval) {
        for (const auto& peer : peers) ::send(peer.get(), "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        lastByte = now;
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
  }

  varo::UniqueFd listener_;
  std::list<varo::UniqueFd> fillers_;
  bool listening_ = false, ready_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ExchangeDeadline, NoListenerHoldsTheCallerPastTheDeadline) {
  const milliseconds bound = seconds(varo::service::kExchangeDeadlineSeconds) + milliseconds(500);
  const std::string reply = "{\"COM\":\"0\"}";
  const struct {
    const char* name;
    Behaviour listener;
    int result;
    std::string got;
  } cases[] = {
      {"a byte every 300 ms",
       {false, milliseconds(0), "{", milliseconds(300)},
       varo::service::kNoData,
       ""},
      {"a reply, then quiet",
       {false, milliseconds(0), reply, milliseconds(0)},
       varo::service::kOk,
       reply},
      {"never accepts, room in its backlog",
       {false, kNever, "", milliseconds(0)},
       varo::service::kNoData,
       ""},
      {"never accepts, backlog full",
       {true, kNever, "", milliseconds(0)},
       varo::service::kNoConnection,
       ""},
      {"accepts late, then a byte every 300 ms",
       {true, milliseconds(500), "{", milliseconds(300)},
       varo::service::kNoData,
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(varo::testing::servicePortFree(varo::service::kPort));
    Listener listener(c.listener);
    ASSERT_TRUE(listener.listening());
    ASSERT_TRUE(listener.ready()) << "the listener's backlog could not be filled";
    const auto start = steady_clock::now();
    std::string got;
    EXPECT_EQ(varo::service::exchange(reply, &got, 1024), c.result);
    EXPECT_EQ(got, c.got);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), bound.count());
  }
}

}  // namespace
