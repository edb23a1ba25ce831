// No failure and no crash loses a seal: every SKF call that a seal write or
// a key conversion makes is failed in turn, and the process is ended at it
// in turn (a pulled key, a power cut), and afterwards every seal the key
// held still reads back byte for byte, and doing it again succeeds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "seal_store_fixture.h"
#include "varo/tmp_files.h"
#include "varo/tool_library.h"

namespace {

using varo::softkey::Bytes;
using varo::testing::InstalledDriver;
using varo::testing::patternBytes;
using varo::testing::SealStoreGuard;

// The SKF functions the write and the conversion call.
const char* const kFunctions[] = {
    "SKF_EnumDev",         "SKF_ConnectDev",   "SKF_GetDevInfo",   "SKF_EnumApplication",
    "SKF_OpenApplication", "SKF_ReadFile",     "SKF_EnumFiles",    "SKF_CreateFile",
    "SKF_WriteFile",       "SKF_DeleteFile",   "SKF_CloseApplication", "SKF_DisConnectDev",
    "SKF_LockDev",         "SKF_UnlockDev",
};

enum class Outcome { NotReached, Failed, Crashed };

class WriteFaults : public ::testing::Test {
 protected:
  // A process ended in the middle of a conversion leaves its temporary
  // copy of the seal behind: the test's own temporary directory gets them.
  void SetUp() override {
    ASSERT_TRUE(keys_.ok() && tmp_.ok());
    if (const char* old = ::getenv("TMPDIR")) oldTmp_ = old;
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
  }

  // A fresh key "K" set up by prepare, then operation run with the fault.
  Outcome runWithFault(const std::function<void()>& prepare,
                       const std::function<int(VaroDeviceBase*)>& operation,
                       const std::string& function, uint32_t skip, bool crash) {
    keys_->clearFaults();
    keys_->removeKey("K");
    prepare();
    varo::softkey::FaultSpec rule;
    rule.function = function;
    rule.code = 0x0A000001;
    rule.count = 1;
    rule.skip = skip;
    rule.exitProcess = crash;
    EXPECT_TRUE(keys_->addFault(rule).ok());
    bool ended = false;
    if (crash) {
      const pid_t child = ::fork();
      if (child == 0) {
        InstalledDriver driver;
        ::_exit(operation(driver.get()) == 0 ? 0 : 1);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      ended = WIFEXITED(status) && WEXITSTATUS(status) == 86;
    } else {
      InstalledDriver driver;
      operation(driver.get());
    }
    const bool reached = keys_->listFaults().empty();
    keys_->clearFaults();
    if (!reached) return Outcome::NotReached;
    if (crash) {
      EXPECT_TRUE(ended) << function << " skip " << skip;
    }
    return crash ? Outcome::Crashed : Outcome::Failed;
  }

  // Walks every call of every function, failing and then ending the
  // process at it; check runs after each point. Returns the points tried.
  int walk(const std::function<void()>& prepare,
           const std::function<int(VaroDeviceBase*)>& operation,
           const std::function<void(const std::string&)>& check) {
    int points = 0;
    for (bool crash : {false, true}) {
      for (const char* function : kFunctions) {
        for (uint32_t skip = 0; skip < 200; ++skip) {
          if (runWithFault(prepare, operation, function, skip, crash) == Outcome::NotReached) break;
          ++points;
          check(std::string(crash ? "crash at " : "failure of ") + function + " #" +
                std::to_string(skip + 1));
          if (HasFailure()) return points;
        }
      }
    }
    return points;
  }

  Bytes read(VaroDeviceBase* driver, const std::string& id) {
    std::string i = id;
    int length = 0;
    if (driver->ReadSeal(i.data(), nullptr, &length) != 0) return {};
    Bytes out(static_cast<size_t>(length));
    if (driver->ReadSeal(i.data(), out.data(), &length) != 0) return {};
    return out;
  }
  static int write(VaroDeviceBase* driver, const std::string& id, const Bytes& bytes) {
    std::string i = id, n = "Seal " + id;
    Bytes b = bytes;
    return driver->WriteSeal(i.data(), n.data(), 1, 1, b.data(), int(b.size()));
  }

  varo::testing::TempKeyStore keys_;
  varo::testing::TempDir tmp_{"write-faults-tmp"};
  std::string oldTmp_;
  SealStoreGuard sealData_;
};

TEST_F(WriteFaults, ReplacingASealNeverLosesOne) {
  const Bytes a = patternBytes(1000, 1), oldB = patternBytes(60000, 2), newB = patternBytes(110000, 3);
  auto prepare = [&] {
    ASSERT_TRUE(keys_->createKey("K").ok());
    InstalledDriver driver;
    ASSERT_EQ(write(driver.get(), "A", a), 0);
    ASSERT_EQ(write(driver.get(), "B", oldB), 0);
  };
  auto replace = [&](VaroDeviceBase* d) { return write(d, "B", newB); };
  auto check = [&](const std::string& point) {
    InstalledDriver driver;
    EXPECT_EQ(read(driver.get(), "A"), a) << point;
    const Bytes b = read(driver.get(), "B");
    EXPECT_TRUE(b == oldB || b == newB) << point << ": B has " << b.size() << " bytes";
    ASSERT_EQ(replace(driver.get()), 0) << point << ": the retry";
    EXPECT_EQ(read(driver.get(), "B"), newB) << point;
    EXPECT_EQ(read(driver.get(), "A"), a) << point;
  };
  const int points = walk(prepare, replace, check);
  EXPECT_GT(points, 40);
  std::printf("seal replacement: %d failure and crash points tried\n", points);
}

TEST_F(WriteFaults, ConvertingAKeyNeverLosesItsSeal) {
  varo::testing::TestPki pki;
  const Bytes der = varo::testing::makeTestSeal(varo::testing::sealSpec(pki, "ES-CONV", "Conv"));
  ASSERT_FALSE(der.empty());
  std::map<std::string, Bytes> oldFiles;
  auto prepare = [&] {
    ASSERT_TRUE(keys_->createKey("K").ok());
    ASSERT_TRUE(keys_->writeThreeFileForm("K", der).ok());
    for (const char* f : {"PIC1", "PIC2", "PIC3"}) keys_->getFile("K", f, &oldFiles[f]);
  };
  auto convert = [](VaroDeviceBase* d) {
    char device[] = "K";
    return static_cast<VaroDeviceBase_LM_GM3000*>(d)->ConvertSealFormat(device) == 1 ? 0 : 1;
  };
  // The seal is on the key when its record reads back through the index,
  // or while the old files are all still there.
  auto sealOnKey = [&](VaroDeviceBase* driver) {
    const Bytes record = read(driver, "ES-CONV");
    if (!record.empty()) return true;
    for (const auto& [name, bytes] : oldFiles) {
      Bytes now;
      if (!keys_->getFile("K", name, &now).ok() || now != bytes) return false;
    }
    return true;
  };
  // After every point the next listing shows the seal, and an ordinary
  // write then keeps it beside the new seal.
  const Bytes other = patternBytes(70000, 9);
  auto check = [&](const std::string& point) {
    InstalledDriver driver;
    EXPECT_TRUE(sealOnKey(driver.get())) << point;
    Bytes list(4096, 0);
    int length = 0;
    ASSERT_EQ(driver->ReadSealList(list.data(), &length), 0) << point;
    EXPECT_NE(std::string(list.begin(), list.begin() + length).find("\"ID\":\"ES-CONV\""),
              std::string::npos)
        << point;
    ASSERT_EQ(write(driver.get(), "W", other), 0) << point << ": the write after it";
    EXPECT_FALSE(read(driver.get(), "ES-CONV").empty()) << point;
    EXPECT_EQ(read(driver.get(), "W"), other) << point;
  };
  const int points = walk(prepare, convert, check);
  EXPECT_GT(points, 30);
  std::printf("key conversion: %d failure and crash points tried\n", points);
}

}  // namespace
