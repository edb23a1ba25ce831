// Linked into every test program that takes the ctest lock "port9990": such
// a program needs the service port to itself, so it stops before its first
// test, saying what holds the port, when another process does. Its tests
// would otherwise fail one by one, or wait on a listener that never answers.
#include <gtest/gtest.h>

#include "varo/port_check.h"

namespace {

class ServicePortEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(varo::testing::servicePortFree()); }
};

::testing::Environment* const kServicePortCheck =
    ::testing::AddGlobalTestEnvironment(new ServicePortEnvironment);

}  // namespace
