// The vendor library missing, or lacking functions the operations call:
// every key operation answers 0x1013 and calls nothing. The installed
// library is replaced for the test and put back at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "driver_fixture.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::InstalledDriver;

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
  varo::testing::MovedAside aside(varo::kVendorKeyLibraryPath);
  ASSERT_TRUE(aside.moved());
  expectEveryKeyOperationFails("absent");
  ASSERT_TRUE(aside.replaceWith(PARTIAL_VENDOR_STUB));
  expectEveryKeyOperationFails("lacking functions");
}

}  // namespace
