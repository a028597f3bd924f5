// The host's own record of its writes to the line: for every write() it made
// to the device's pseudo-terminal, when it handed the bytes to the kernel and
// when the kernel returned (kept by a preload library in the host, outside
// the host's code). It judges the host's pauses exactly, whatever the line
// and a busy machine did to the bytes afterwards.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gap_analysis.h"

namespace devsim {

// One write() of the host; times in ms on the simulator's clock.
struct HostWrite {
  double entry_ms;
  double return_ms;
  std::size_t size;
};

// The host's writes to `device` that began at or after `since_ns` (not
// negative), from the record's lines ("<device> <entry ns> <return ns>
// <bytes>"), times relative to since_ns. Lines of other devices are
// skipped, and so are lines that cannot be a write: a return before its
// entry, or more bytes than one write() moves.
std::vector<HostWrite> ParseHostWrites(std::istream& record,
                                       const std::string& device,
                                       long long since_ns);

// The host's writes to `device` that began at or after `since_ns`
// (CLOCK_MONOTONIC), in the order recorded, as ParseHostWrites gives them
// from the file. Nothing when the file cannot be read.
std::optional<std::vector<HostWrite>> ReadHostWrites(
    const std::filesystem::path& file, const std::string& device,
    long long since_ns);

struct HostPacing {
  std::size_t writes = 0;  // image writes, after the boot command
  bool complete = false;   // the boot command and every image byte
  std::vector<Gap> gaps;   // from a write's return to the next one's entry
  std::vector<Gap> below;  // gaps not strictly above their minimum
  // Where write() calls ran across the end of a write (two writes sent as
  // one): the byte offset of each such call in the stream.
  std::vector<std::size_t> merged;
  std::optional<double> smallest_margin_ms;
  // From the boot command's return to the entry of the last image write.
  double total_ms = 0;

  bool Ok() const { return complete && below.empty() && merged.empty(); }
  // The host's gap in front of image write `index`, if it made that write.
  const Gap* GapBefore(std::size_t index) const;
};

// Groups the write() calls into the boot command (boot_size bytes) and the
// image's writes, and measures the pause in front of each image write.
HostPacing AnalyseHostWrites(std::span<const HostWrite> writes,
                             const Minimums& minimums, std::size_t boot_size,
                             std::size_t image_size);

// A device-side gap below its minimum is a late delivery when the host's own
// record shows that pause above its minimum.
void ExplainWithHostRecord(Analysis& analysis, const HostPacing& host);

}  // namespace devsim
