// The tick counter that paces an update: 32 unsigned bits that wrap, so
// intervals are unsigned differences. The dialog's counter counts single
// milliseconds; a front end that does not spin may count finer, so that its
// pauses end as soon as they are long enough.
#pragma once

#include <cstdint>

namespace dov {

class TTickCounter {
 public:
  virtual ~TTickCounter() = default;
  virtual std::uint32_t Ticks() = 0;
  virtual std::uint32_t TicksPerMillisecond() const { return 1; }
};

// The system's counter in single milliseconds (not a coarse scheduler tick):
// a high-resolution monotonic clock truncated to 32 bits.
class TSystemTickCounter : public TTickCounter {
 public:
  std::uint32_t Ticks() override;
};

}  // namespace dov
