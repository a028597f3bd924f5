#include "pause_marks.h"

#include <charconv>
#include <optional>
#include <set>

namespace devsim {
namespace {

std::set<std::size_t> WritesOf(const std::vector<Gap>& gaps) {
  std::set<std::size_t> writes;
  for (const Gap& gap : gaps) writes.insert(gap.write);
  return writes;
}

void AddMarks(const std::vector<Gap>& gaps, MarkSource source,
              const std::set<std::size_t>& below,
              const std::set<std::size_t>& late, std::vector<Mark>& marks) {
  for (const Gap& gap : gaps) {
    const MarkFlag flag = below.contains(gap.write)  ? MarkFlag::kBelow
                          : late.contains(gap.write) ? MarkFlag::kLate
                                                     : MarkFlag::kNone;
    marks.push_back(
        {gap.kind, source, gap.write, gap.gap_ms, gap.minimum_ms, flag});
  }
}

// One line of a trace that matters here: a write, or a pause with its
// minimum and its actual length.
struct TraceEvent {
  bool write = false;
  double minimum_ms = 0;
  double actual_ms = 0;
};

// Takes `prefix` off the front of `text`; false when it is not there.
bool Skip(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool TakeNumber(std::string_view& text, double& value) {
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

// "[   12.345678] pause: minimum 10 ms, actual 10.052 ms" or
// "[   12.345678] write: 32 bytes"; nothing for any other line.
std::optional<TraceEvent> ParseTraceLine(std::string_view line) {
  if (line.starts_with('[')) {
    const std::size_t stamp_end = line.find("] ");
    if (stamp_end == std::string_view::npos) return std::nullopt;
    line.remove_prefix(stamp_end + 2);
  }
  if (line.starts_with("write: ")) return TraceEvent{true};
  TraceEvent pause;
  if (Skip(line, "pause: minimum ") && TakeNumber(line, pause.minimum_ms) &&
      Skip(line, " ms, actual ") && TakeNumber(line, pause.actual_ms) &&
      Skip(line, " ms")) {
    return pause;
  }
  return std::nullopt;
}

std::vector<TraceEvent> ParseTrace(std::string_view trace) {
  std::vector<TraceEvent> events;
  while (!trace.empty()) {
    const std::size_t end = trace.find('\n');
    const std::string_view line = trace.substr(0, end);
    if (const auto event = ParseTraceLine(line)) events.push_back(*event);
    if (end == std::string_view::npos) break;
    trace.remove_prefix(end + 1);
  }
  return events;
}

}  // namespace

std::vector<Mark> MarksFromReport(const Report& report) {
  std::vector<Mark> marks;
  if (report.host) {
    AddMarks(report.host->gaps, MarkSource::kHost, WritesOf(report.host->below),
             {}, marks);
  }
  const Analysis& device = report.analysis;
  AddMarks(device.gaps, MarkSource::kDevice, WritesOf(device.below),
           WritesOf(device.late_deliveries), marks);
  return marks;
}

std::vector<Mark> MarksFromTrace(std::string_view trace,
                                 std::size_t writes_per_block) {
  const std::vector<TraceEvent> events = ParseTrace(trace);
  std::vector<Mark> marks;
  std::size_t writes = 0;  // the boot command is the first
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TraceEvent& event = events[i];
    if (event.write) {
      ++writes;
      continue;
    }
    if (writes == 0) continue;  // the device reset's pauses
    const std::size_t image_writes = writes - 1;
    const bool after_write = i > 0 && events[i - 1].write;
    const bool before_write = i + 1 < events.size() && events[i + 1].write;
    std::optional<GapKind> kind;
    if (after_write && image_writes == 0) {
      kind = GapKind::kAfterBoot;
    } else if (after_write && writes_per_block > 0 &&
               image_writes % writes_per_block == 0) {
      kind = GapKind::kAfterBlock;
    } else if (before_write) {
      kind = GapKind::kBeforeWrite;
    }
    if (!kind) continue;
    marks.push_back({*kind, MarkSource::kHost, image_writes, event.actual_ms,
                     event.minimum_ms,
                     event.actual_ms > event.minimum_ms ? MarkFlag::kNone
                                                        : MarkFlag::kBelow});
  }
  return marks;
}

}  // namespace devsim
