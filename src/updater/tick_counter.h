// The millisecond tick counter that paces an update: 32 unsigned bits that
// wrap at 2^32 ms, so intervals are unsigned differences.
#pragma once

#include <cstdint>

namespace dov {

class TTickCounter {
 public:
  virtual ~TTickCounter() = default;
  virtual std::uint32_t Ticks() = 0;
};

// The system's counter in single milliseconds (not a coarse scheduler tick):
// a high-resolution monotonic clock truncated to 32 bits.
class TSystemTickCounter : public TTickCounter {
 public:
  std::uint32_t Ticks() override;
};

}  // namespace dov
