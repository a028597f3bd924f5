#include "gap_analysis.h"

#include <algorithm>

namespace devsim {
namespace {

// Splits the byte stream into writes: a write ends when it holds write_size
// bytes (writes merged in one chunk are taken apart by count) or when the
// next byte comes after a pause (a short write stays short, so one missing
// byte does not shift every later write).
std::vector<Write> ReconstructWrites(std::span<const Chunk> chunks,
                                     const Minimums& minimums) {
  std::vector<Write> writes;
  std::size_t offset = 0;
  bool open = false;
  for (const Chunk& chunk : chunks) {
    if (open && chunk.time_ms - writes.back().last_ms > minimums.ClusterMs()) {
      open = false;
    }
    std::size_t left = chunk.size;
    while (left > 0) {
      if (!open) {
        writes.push_back({chunk.time_ms, chunk.time_ms, offset, 0});
        open = true;
      }
      Write& write = writes.back();
      const std::size_t take = std::min(left, minimums.write_size - write.size);
      write.size += take;
      write.last_ms = chunk.time_ms;
      offset += take;
      left -= take;
      if (write.size == minimums.write_size) open = false;
    }
  }
  return writes;
}

}  // namespace

Gap GapBefore(std::size_t index, double previous_end_ms, double first_ms,
              const Minimums& minimums) {
  Gap gap{index, GapKind::kBeforeWrite, first_ms - previous_end_ms,
          minimums.before_write_ms};
  if (index == 0) {
    gap.kind = GapKind::kAfterBoot;
    gap.minimum_ms = minimums.after_boot_ms;
  } else if (index % minimums.writes_per_block == 0) {
    gap.kind = GapKind::kAfterBlock;
    gap.minimum_ms = minimums.after_block_ms;
  }
  return gap;
}

Analysis AnalyseArrivals(double boot_ms, std::span<const Chunk> chunks,
                         const Minimums& minimums) {
  Analysis result;
  result.writes = ReconstructWrites(chunks, minimums);
  double previous_end_ms = boot_ms;
  // The host starts each pause once its previous write has gone out, and the
  // line hands a write to the device up to delivery_jitter_ms late, never
  // early. So the first byte of write k arrives no sooner than the last byte
  // of any earlier write j (or the boot command) plus the minimums of the
  // pauses between them, less that lateness. With every time taken relative
  // to the running sum of the minimums, that is: first_k - sum_k >=
  // max over j < k of (last_j - sum_j) - jitter. A pause below its minimum
  // that keeps the bound is a late delivery; one that breaks it is the host
  // hurrying (also over several writes, each only a little short).
  double minimums_ms = 0;
  double latest_end_ms = boot_ms;  // the largest last_j - sum_j so far
  for (std::size_t i = 0; i < result.writes.size(); ++i) {
    const Write& write = result.writes[i];
    const Gap gap = GapBefore(i, previous_end_ms, write.first_ms, minimums);
    minimums_ms += gap.minimum_ms;
    if (gap.Below()) {
      const bool inBound = write.first_ms - minimums_ms >=
                           latest_end_ms - minimums.delivery_jitter_ms;
      (inBound ? result.late_deliveries : result.below).push_back(gap);
    }
    latest_end_ms = std::max(latest_end_ms, write.last_ms - minimums_ms);
    result.gaps.push_back(gap);
    if (!result.smallest_margin_ms ||
        gap.MarginMs() < *result.smallest_margin_ms) {
      result.smallest_margin_ms = gap.MarginMs();
    }
    if (write.size != minimums.write_size) result.odd_writes.push_back(i);
    previous_end_ms = write.last_ms;
  }
  if (!result.writes.empty()) {
    result.total_ms = result.writes.back().last_ms - boot_ms;
  }
  return result;
}

const char* GapKindName(GapKind kind) {
  switch (kind) {
    case GapKind::kAfterBoot:
      return "after_boot";
    case GapKind::kBeforeWrite:
      return "before_write";
    case GapKind::kAfterBlock:
      return "after_block";
  }
  return "?";
}

}  // namespace devsim
