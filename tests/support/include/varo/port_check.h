// Whether a test may have a TCP port on 127.0.0.1 to itself, and, when it
// may not, what holds it: the listening sockets on that port (from
// /proc/net/tcp and tcp6) and the processes whose descriptors are those
// sockets (from /proc/<pid>/fd).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace varo::testing {

// Empty when the port can be bound on 127.0.0.1; otherwise one sentence,
// e.g. "127.0.0.1:9990 is in use by pid 4242 (python3 -m http.server 9990)"
// or "127.0.0.1:9990 is in use by another process".
std::string portInUse(unsigned short port);

// Success when the port is free; otherwise a failure that says what holds
// it and that the test needs it. Fixtures that start a service on the port
// assert it first, so that a taken port is reported as such.
::testing::AssertionResult servicePortFree(unsigned short port = 9990);

}  // namespace varo::testing
