// Eight ports at once: summed throughput of the component against raw
// descriptors driven alike, idle CPU with all of them open, and whether
// traffic on one port wakes the threads of the others.
#pragma once

#include <filesystem>

namespace bench {

// The case's name for serial_bench's --only.
inline constexpr char kManyPortsName[] = "8 ports";

// Runs the case with pseudo-terminals mapped in `devices`; `passes` passes
// of throughput (the best is kept), idle CPU over `idleSeconds`.
void RunManyPorts(const std::filesystem::path& devices, int passes,
                  double idleSeconds);

}  // namespace bench
