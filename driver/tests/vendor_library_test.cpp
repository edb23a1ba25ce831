// The vendor library missing, or lacking functions the operations call:
// every key operation answers 0x1013 and calls nothing. The installed
// library is replaced for the test and put back at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "driver_fixture.h"

namespace {

using varo::testing::InstalledDriver;

// The installed vendor library moved aside for the scope, put back at its end.
class VendorLibraryAside {
 public:
  VendorLibraryAside()
      : path_(varo::testing::installedVendorLibraryPath()), aside_(path_ + ".aside") {
    moved_ = std::rename(path_.c_str(), aside_.c_str()) == 0;
  }
  ~VendorLibraryAside() {
    if (moved_) std::rename(aside_.c_str(), path_.c_str());
  }
  bool ok() const { return moved_; }
  // Puts a copy of another library in its place.
  bool replaceWith(const std::string& library) {
    std::ifstream in(library, std::ios::binary);
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return in.good() && out.good();
  }
  void removeReplacement() { ::unlink(path_.c_str()); }

 private:
  std::string path_, aside_;
  bool moved_ = false;
};

void expectEveryKeyOperationFails(const char* situation) {
  InstalledDriver driver;
  ASSERT_TRUE(driver.ok());
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
  VendorLibraryAside aside;
  ASSERT_TRUE(aside.ok());
  expectEveryKeyOperationFails("absent");
  ASSERT_TRUE(aside.replaceWith(PARTIAL_VENDOR_STUB));
  expectEveryKeyOperationFails("lacking functions");
  aside.removeReplacement();
}

}  // namespace
