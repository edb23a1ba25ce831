// The vendor library missing, or lacking functions the operations call:
// every key operation answers 0x1013 and calls nothing. The installed
// library is replaced for the test and put back at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver_fixture.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::InstalledDriver;

// A temporary directory with its client log directory, as TMPDIR.
class ClientLogDir {
 public:
  ClientLogDir() : old_(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "") {
    char pattern[] = "/tmp/vendor-library-XXXXXX";
    if (::mkdtemp(pattern)) dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/varolog");
    std::filesystem::permissions(dir_ + "/varolog", std::filesystem::perms::owner_all);
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  ~ClientLogDir() {
    old_.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", old_.c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string messages() const {
    std::string all;
    for (const auto& m : varo::testing::clientLogMessages(dir_ + "/varolog/clientlog.txt"))
      all += m + "\n";
    return all;
  }

 private:
  std::string old_, dir_;
};

void expectEveryKeyOperationFails(const char* situation, const char* reason) {
  InstalledDriver driver;
  ASSERT_TRUE(driver.ok());
  {
    // The seal list says why in the client log, which the service's user reads.
    ClientLogDir log;
    int listLength = 0;
    EXPECT_EQ(driver->ReadSealList(nullptr, &listLength), 0x1013) << situation;
    EXPECT_NE(log.messages().find(reason), std::string::npos)
        << situation << ": " << log.messages();
  }
  unsigned char cert[5120] = {0x30, 0x01, 0x00};
  int length = 0;
  char text[64] = {};
  char pin[] = "12345678";
  EXPECT_EQ(driver->GetUKID(text), 0x1013) << situation;
  EXPECT_EQ(driver->ReadCert(2, cert, &length), 0x1013) << situation;
  EXPECT_EQ(driver->CertExists(cert, 3), 0x1013) << situation;
  EXPECT_EQ(driver->ChangePin(pin, pin), 0x1013) << situation;
  // The operations that need no key still answer.
  driver->GetUKType(text);
  EXPECT_STREQ(text, "LM_GM3000");
}

TEST(VendorLibrary, MissingOrIncompleteLibraryFailsEveryKeyOperation) {
  varo::testing::TempKeyStore keys;
  ASSERT_TRUE(keys->createKey("KEY01").ok());
  varo::testing::MovedAside aside(varo::kVendorKeyLibraryPath);
  ASSERT_TRUE(aside.moved());
  expectEveryKeyOperationFails("absent", "does not load: ");
  ASSERT_TRUE(aside.replaceWith(PARTIAL_VENDOR_STUB));
  expectEveryKeyOperationFails("lacking functions", " lacks SKF_");
}

}  // namespace
