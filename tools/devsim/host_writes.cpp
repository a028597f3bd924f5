#include "host_writes.h"

#include <fstream>
#include <sstream>

namespace devsim {

namespace {

// The most one write() moves on Linux; a line claiming more is no record
// of a write.
constexpr long long kMaxWriteSize = 0x7ffff000;

}  // namespace

std::vector<HostWrite> ParseHostWrites(std::istream& record,
                                       const std::string& device,
                                       long long since_ns) {
  std::vector<HostWrite> writes;
  std::string line;
  while (std::getline(record, line)) {
    std::istringstream fields(line);
    std::string path;
    long long entry_ns = 0;
    long long return_ns = 0;
    long long size = 0;
    if (!(fields >> path >> entry_ns >> return_ns >> size)) continue;
    if (path != device || entry_ns < since_ns || return_ns < entry_ns ||
        size <= 0 || size > kMaxWriteSize) {
      continue;
    }
    writes.push_back({static_cast<double>(entry_ns - since_ns) / 1e6,
                      static_cast<double>(return_ns - since_ns) / 1e6,
                      static_cast<std::size_t>(size)});
  }
  return writes;
}

std::optional<std::vector<HostWrite>> ReadHostWrites(
    const std::filesystem::path& file, const std::string& device,
    long long since_ns) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  return ParseHostWrites(in, device, since_ns);
}

const Gap* HostPacing::GapBefore(std::size_t index) const {
  return index < gaps.size() ? &gaps[index] : nullptr;
}

HostPacing AnalyseHostWrites(std::span<const HostWrite> writes,
                             const Minimums& minimums, std::size_t boot_size,
                             std::size_t image_size) {
  HostPacing pacing;
  std::size_t sent = 0;  // bytes so far, boot command included
  double previous_return_ms = 0;
  double boot_return_ms = 0;
  const auto unit_end = [&](std::size_t at) {
    if (at < boot_size) return boot_size;
    return boot_size +
           ((at - boot_size) / minimums.write_size + 1) * minimums.write_size;
  };
  for (const HostWrite& write : writes) {
    const bool starts_image_write =
        sent >= boot_size && (sent - boot_size) % minimums.write_size == 0;
    if (starts_image_write) {
      const std::size_t index = (sent - boot_size) / minimums.write_size;
      const Gap gap = devsim::GapBefore(index, previous_return_ms,
                                        write.entry_ms, minimums);
      if (!(gap.gap_ms > gap.minimum_ms)) pacing.below.push_back(gap);
      if (!pacing.smallest_margin_ms ||
          gap.MarginMs() < *pacing.smallest_margin_ms) {
        pacing.smallest_margin_ms = gap.MarginMs();
      }
      pacing.gaps.push_back(gap);
      if (index == 0) boot_return_ms = previous_return_ms;
      pacing.total_ms = write.entry_ms - boot_return_ms;
    }
    if (sent + write.size > unit_end(sent)) pacing.merged.push_back(sent);
    sent += write.size;
    previous_return_ms = write.return_ms;
  }
  pacing.writes = pacing.gaps.size();
  pacing.complete = sent == boot_size + image_size;
  return pacing;
}

void ExplainWithHostRecord(Analysis& analysis, const HostPacing& host) {
  std::vector<Gap> still_below;
  for (const Gap& gap : analysis.below) {
    const Gap* kept = host.GapBefore(gap.write);
    if (kept && kept->gap_ms > kept->minimum_ms) {
      analysis.late_deliveries.push_back(gap);
    } else {
      still_below.push_back(gap);
    }
  }
  analysis.below = std::move(still_below);
}

}  // namespace devsim
