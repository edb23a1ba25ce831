// Secret text leaves none of its old bytes in its storage when it is
// replaced, and grows without losing what it holds.
#include <gtest/gtest.h>

#include <string>

#include "varo/secret_text.h"

namespace {

TEST(SecretText, ReplacedBytesAreWipedFromItsStorage) {
  varo::SecretText text(32);
  text.assign("{\"PIN\":\"87654321\"}");
  const char* storage = text.c_str();
  text.assign("ok");
  EXPECT_EQ(text.c_str(), storage);  // no reallocation
  EXPECT_EQ(text.view(), "ok");
  EXPECT_EQ(std::string(storage + 2, 16), std::string(16, '\0'));
  const std::string longer(100, 'x');
  text.assign(longer);
  EXPECT_EQ(text.view(), longer);
  text.wipe();
  EXPECT_TRUE(text.empty());
}

}  // namespace
