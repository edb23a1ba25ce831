// What the benchmarks check about the process and the machine: resident
// memory, the load, the CPU, and the conditions that change what a flow
// does (a service on port 9990, the trace directory).
#pragma once

#include <cstddef>
#include <string>

namespace varo::bench {

// VmRSS and VmHWM of this process in bytes; 0 when unreadable.
size_t residentBytes();
size_t peakResidentBytes();
// Resets the peak to the current resident size; false where the kernel
// does not allow it.
bool resetPeak();

// "CPU model, N logical CPUs, load a b c".
std::string machineLine();
// The 1-minute load average; negative when unreadable.
double loadAverage();

// Whether something accepts connections on 127.0.0.1:port.
bool portInUse(int port);
// Waits (polling every second, at most maxSeconds) until nothing listens
// on the port; true when it is free.
bool waitForFreePort(int port, int maxSeconds);

// Whether the trace directory exists and is the caller's own: the flows
// then write their markers, which costs file operations on every call.
bool traceDirectoryPresent();

}  // namespace varo::bench
