// The meter of a store: nothing is counted or slowed down without it; with
// it, every call and the bytes it moves are counted across processes, and
// the latency model slows each call down by its setting.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "meter.h"
#include "softkey_fixture.h"

namespace softkey_test {
namespace {

namespace sk = varo::softkey;
using Clock = std::chrono::steady_clock;

class MeterTest : public SoftKeyTest {
 protected:
  void SetUp() override {
    SoftKeyTest::SetUp();
    makeKey("K1", false);
    ASSERT_TRUE(admin().putFile("K1", "F", varo::softkey::Bytes(3000, 7)));
  }

  // Connect, open, read 3000 bytes of F, write 1000 bytes, close: six calls.
  void session() {
    skf::DEVHANDLE dev = connect("K1");
    skf::HAPPLICATION app = openApp(dev);
    unsigned char buffer[3000];
    ULONG got = sizeof buffer;
    char name[] = "F";
    EXPECT_EQ(api_.SKF_ReadFile(app, name, 0, sizeof buffer, buffer, &got), skf::SAR_OK);
    EXPECT_EQ(api_.SKF_WriteFile(app, name, 0, buffer, 1000), skf::SAR_OK);
    api_.SKF_CloseApplication(app);
    api_.SKF_DisConnectDev(dev);
  }

  double timedSession() {
    const auto start = Clock::now();
    session();
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

TEST_F(MeterTest, CountsAndSlowsDownEveryCall) {
  session();
  EXPECT_FALSE(sk::readCounts(store_));
  // A file that is no whole meter page is no meter (and is never mapped).
  { std::ofstream(store_ + "/meter"); }
  session();
  EXPECT_FALSE(sk::readCounts(store_));
  ASSERT_EQ(::unlink((store_ + "/meter").c_str()), 0);

  std::string why;
  ASSERT_TRUE(sk::clearCounts(store_, &why)) << why;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    session();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  session();
  auto counts = sk::readCounts(store_);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->calls, 12u);
  EXPECT_EQ(counts->bytesRead, 6000u);
  EXPECT_EQ(counts->bytesWritten, 2000u);
  EXPECT_EQ(counts->callsOf("SKF_ReadFile"), 2u);
  EXPECT_EQ(counts->callsOf("SKF_ConnectDev"), 2u);
  EXPECT_EQ(counts->sleptMicros, 0u);

  // 6 calls of 20 ms, and 4000 bytes at 100 ms per KiB: about 510 ms.
  ASSERT_TRUE(sk::setLatency(store_, {20, 100}, &why)) << why;
  EXPECT_EQ(sk::readLatency(store_), (sk::LatencyModel{20, 100}));
  ASSERT_TRUE(sk::clearCounts(store_, &why));
  const double took = timedSession();
  EXPECT_GE(took, 0.50);
  EXPECT_LT(took, 5.0);
  EXPECT_NEAR(double(sk::readCounts(store_)->sleptMicros), 510625, 1000);

  ASSERT_TRUE(sk::setLatency(store_, {}, &why));
  EXPECT_LT(timedSession(), 0.25);
}

}  // namespace
}  // namespace softkey_test
