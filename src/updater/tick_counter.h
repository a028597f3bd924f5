// The tick counter that paces an update: 32 unsigned bits that wrap, so
// intervals are unsigned differences. A counter counts at least single
// milliseconds; the programs' counter counts microseconds, so that a pause
// ends as soon as it is long enough.
#pragma once

#include <cstdint>

namespace dov {

class TTickCounter {
 public:
  virtual ~TTickCounter() = default;
  virtual std::uint32_t Ticks() = 0;
  virtual std::uint32_t TicksPerMillisecond() const { return 1; }
};

}  // namespace dov
