// Reconstructs the host's writes from the chunks in which their bytes
// arrived, and measures every pause between writes against the minimum the
// device needs. Pure: arrival times in, verdict out.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace devsim {

// Bytes that the device read in one go, with the time they arrived.
struct Chunk {
  double time_ms;
  std::size_t size;
};

// The least pause the device needs before each write of the image.
struct Minimums {
  double after_boot_ms = 2000;  // before the first write
  double before_write_ms = 10;  // before each write inside a block
  double after_block_ms = 100;  // before the first write of the next block
  std::size_t write_size = 32;
  std::size_t writes_per_block = 4;

  // Bytes that arrive closer together than this belong to one write. Half
  // the shortest pause: a write split by the line still joins up, while two
  // properly paced writes never merge.
  double ClusterMs() const { return before_write_ms / 2; }

  // How late the line may hand a write over to the device. A pause that
  // looks short only because a write before it arrived late is told apart
  // from a host that hurried (see AnalyseArrivals). A pseudo-terminal on a
  // busy machine stays within a few milliseconds; Wine's serial emulation
  // adds more.
  double delivery_jitter_ms = 3;
};

// One write of the host, as reconstructed.
struct Write {
  double first_ms;     // arrival of its first byte
  double last_ms;      // arrival of its last byte
  std::size_t offset;  // of its first byte in the image
  std::size_t size;
};

enum class GapKind { kAfterBoot, kBeforeWrite, kAfterBlock };

// The pause in front of a write: from the end of what came before (the boot
// command or the previous write) to the write's first byte.
struct Gap {
  std::size_t write;  // index of the write that follows the pause
  GapKind kind;
  double gap_ms;
  double minimum_ms;

  double MarginMs() const { return gap_ms - minimum_ms; }
  bool Below() const { return gap_ms < minimum_ms; }
};

struct Analysis {
  std::vector<Write> writes;
  std::vector<Gap> gaps;                // one per write, in order
  std::vector<Gap> below;               // the gaps below their minimum
  std::vector<Gap> late_deliveries;     // short only through a late write
  std::vector<std::size_t> odd_writes;  // writes not of write_size bytes
  std::optional<double> smallest_margin_ms;
  double total_ms = 0;  // boot command to last byte

  bool PacingOk() const { return below.empty() && odd_writes.empty(); }
};

// The pause in front of write `index` of the image, from the end of what came
// before it to its first byte, with the minimum of its place in the stream.
Gap GapBefore(std::size_t index, double previous_end_ms, double first_ms,
              const Minimums& minimums);

// boot_ms: arrival of the boot command's last byte. chunks: image bytes in
// order of arrival, times not decreasing.
Analysis AnalyseArrivals(double boot_ms, std::span<const Chunk> chunks,
                         const Minimums& minimums);

const char* GapKindName(GapKind kind);

}  // namespace devsim
