// A reader keeps the provider loaded for a whole session: a long run of
// verifications, seal-info reads and signings in one process must leave its
// resident memory, its open descriptors and /tmp as they were after the
// first few calls.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sign_fixture.h"

namespace signe2e {
namespace {

#ifdef __SANITIZE_ADDRESS__
// Under AddressSanitizer a signing takes several times as long, and every
// library load keeps memory of its own: fewer calls there.
constexpr int kCalls = 250;
#else
constexpr int kCalls = 1000;
#endif
constexpr int kWarmUp = 10;
constexpr long kRssSlackKiB = 1024;

using InfoFn = int (*)(unsigned char*, int, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                       unsigned char*, int*, unsigned char*, int*, unsigned char*, int*);

long residentKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

size_t openDescriptors() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// The entries of /tmp other than the files the system itself names there: the
// seal list, seal and picture files, the trace directory. Directories that
// other tests running meanwhile make for themselves (mkdtemp's
// "<prefix>-XXXXXX") are left out too.
std::set<std::string> strayTmpEntries() {
  std::set<std::string> names;
  DIR* d = opendir("/tmp");
  if (!d) return names;
  auto endsWith = [](const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    const size_t dash = name.rfind('-');
    const bool privateDir =
        e->d_type == DT_DIR && dash != std::string::npos && dash + 7 == name.size();
    if (name == "." || name == ".." || name == "varo.list" || name == "varolog" ||
        endsWith(name, ".seal") || endsWith(name, ".pic") || privateDir)
      continue;
    names.insert(name);
  }
  closedir(d);
  return names;
}

// The names of one set that the other lacks, "a, b, c" ("none" when none).
std::string missingFrom(const std::set<std::string>& from, const std::set<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    if (!from.count(name)) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "none" : text;
}

// The in-process fake service closes a connection in its own thread, a
// moment after the provider has returned (a report is sent and not awaited):
// the count is read once that thread is done, the smallest over 200 ms.
size_t settledDescriptors() {
  size_t fewest = openDescriptors();
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fewest = std::min(fewest, openDescriptors());
  }
  return fewest;
}

class LongRun : public SignFixture {
 protected:
  // Makes kCalls calls; the memory and descriptors after them must be those
  // after the first kWarmUp, and /tmp must hold nothing new.
  void expectSteady(const char* what, const std::function<int()>& call) {
    SCOPED_TRACE(what);
    const std::set<std::string> tmpBefore = strayTmpEntries();
    long rss = 0;
    size_t fds = 0;
    for (int i = 0; i < kCalls; ++i) {
      // The fake service's request record would grow with the run.
      service_.clearRequests();
      const int rc = call();
      ASSERT_EQ(rc, 0) << "call " << i;
      if (i + 1 == kWarmUp) {
        rss = residentKiB();
        fds = settledDescriptors();
      }
    }
    EXPECT_EQ(settledDescriptors(), fds);
#ifndef __SANITIZE_ADDRESS__
    // (Not under ASan: its quarantine holds freed memory, so memory grows there.)
    EXPECT_LE(residentKiB() - rss, kRssSlackKiB) << "after " << kWarmUp << ": " << rss << " KiB";
#else
    (void)rss;
#endif
    const std::set<std::string> tmpAfter = strayTmpEntries();
    // Only the names that differ: the whole lists would be cut short.
    EXPECT_TRUE(tmpAfter == tmpBefore) << "new in /tmp: " << missingFrom(tmpBefore, tmpAfter)
                                       << "; gone from /tmp: " << missingFrom(tmpAfter, tmpBefore);
  }
};

TEST_F(LongRun, VerifySealInfoAndSignStaySteady) {
  Bytes signature;
  ASSERT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01"), &signature), 0);
  ASSERT_EQ(verify(seal_, digest_, signature), 0);

  expectSteady("OES_Verify", [&] { return verify(seal_, digest_, signature); });

  auto info = provider_->resolve<InfoFn>("OES_GetSealInfo");
  ASSERT_NE(info, nullptr);
  std::vector<Bytes> fields(11, Bytes(4096));
  expectSteady("OES_GetSealInfo", [&] {
    unsigned char* b[11];
    int l[11];
    for (size_t i = 0; i < fields.size(); ++i) {
      b[i] = fields[i].data();
      l[i] = int(fields[i].size());
    }
    return info(seal_.data(), int(seal_.size()), b[0], &l[0], b[1], &l[1], b[2], &l[2], b[3], &l[3],
                b[4], &l[4], b[5], &l[5], b[6], &l[6], b[7], &l[7], b[8], &l[8], b[9], &l[9], b[10],
                &l[10]);
  });

  Bytes again;
  expectSteady("OES_Sign", [&] { return signWithPin(sealIdWith("LM_GM3000&KEY01"), &again); });
}

}  // namespace
}  // namespace signe2e
