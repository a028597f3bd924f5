// The marks of a picture of an update's pauses: every pause in front of a
// write, against its minimum, as the host timed it and as the device saw it,
// with the ones the verdict flags. Kept apart from the drawing so that what
// a picture shows can be checked without reading one.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "gap_analysis.h"
#include "report.h"

namespace devsim {

// Who measured the pause: the host (its write record, or its own trace) or
// the device (the gap between arrivals).
enum class MarkSource { kHost, kDevice };

// kLate: a gap at the device below its minimum that the host kept, so the
// line handed the write over late. kBelow: a pause below its minimum.
enum class MarkFlag { kNone, kLate, kBelow };

struct Mark {
  GapKind kind;
  MarkSource source;
  std::size_t write;  // the write the pause stands in front of
  double ms;
  double minimum_ms;
  MarkFlag flag;
};

// The host's pauses (when the report has its write record) and the device's
// gaps, flagged as the report's verdict flags them.
std::vector<Mark> MarksFromReport(const Report& report);

// The pauses of a dov-flash trace (--log), as the host timed them: the pause
// after the boot command, the one in front of each write and the one after
// each block of `writes_per_block` writes; a pause not strictly above its
// minimum is flagged. Other pauses (the device reset's, the last one) and
// lines that are no pause or write are passed over.
std::vector<Mark> MarksFromTrace(std::string_view trace,
                                 std::size_t writes_per_block);

}  // namespace devsim
