// The service client against peers on the service port that never close:
// one that keeps trickling bytes is given up on after two quiet periods
// (nothing received), one that goes quiet after its reply has that reply
// used. Built with a quiet period of one second.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "service_client.h"
#include "varo/fd_io.h"
#include "varo/unique_fd.h"

namespace {

static_assert(varo::service::kReceiveTimeoutSeconds == 1, "built with a short quiet period");

// Accepts one connection on the service port and sends reply, then one
// byte every interval (none when interval is 0), until stopped.
class NeverClosingPeer {
 public:
  NeverClosingPeer(std::string reply, std::chrono::milliseconds interval)
      : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int on = 1;
    ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(varo::service::kPort);
    ::inet_pton(AF_INET, varo::service::kAddress, &a.sin_addr);
    listening_ = ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                 ::listen(listener_.get(), 1) == 0;
    if (!listening_) return;
    thread_ = std::thread([this, reply, interval] {
      varo::UniqueFd peer(::accept(listener_.get(), nullptr, nullptr));
      if (peer.get() < 0) return;
      varo::sendAll(peer.get(), reply.data(), reply.size());
      while (!stop_) {
        std::this_thread::sleep_for(interval.count() ? interval : std::chrono::milliseconds(50));
        if (interval.count() && !varo::sendAll(peer.get(), "x", 1)) return;
      }
    });
  }
  ~NeverClosingPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool listening() const { return listening_; }

 private:
  varo::UniqueFd listener_;
  bool listening_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ExchangeDeadline, PeersThatNeverCloseCannotHoldTheCaller) {
  using namespace std::chrono;
  const struct {
    const char* name;
    std::string reply;
    milliseconds interval;
    int result;
    std::string got;
    seconds within;
  } cases[] = {
      {"a byte every 300 ms", "{", milliseconds(300), varo::service::kNoData, "", seconds(4)},
      {"a reply, then quiet", "{\"COM\":\"0\"}", milliseconds(0), varo::service::kOk,
       "{\"COM\":\"0\"}", seconds(3)},
  };
  for (const auto& c : cases) {
    NeverClosingPeer peer(c.reply, c.interval);
    ASSERT_TRUE(peer.listening()) << "port 9990 is taken";
    const auto start = steady_clock::now();
    std::string reply;
    EXPECT_EQ(varo::service::exchange("{\"COM\":\"0\"}", &reply, 1024), c.result) << c.name;
    EXPECT_EQ(reply, c.got) << c.name;
    EXPECT_LT(steady_clock::now() - start, c.within) << c.name;
  }
}

}  // namespace
