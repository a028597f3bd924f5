// The pause of an update: it lasts more than Count x 10 ms on the tick
// counter and keeps the program alive meanwhile, doing its idle work between
// two reads of the counter.
#pragma once

#include <cstdint>

#include "updater/tick_counter.h"

namespace dov {

// What a pause does between two reads of the tick counter. `remaining` is
// the number of counter ticks the pause still needs at least.
class TPauseIdle {
 public:
  virtual ~TPauseIdle() = default;
  virtual void Idle(std::uint32_t remaining) = 0;
};

// Returns once the counter has advanced by more than Count x 10 ms (in its
// own ticks) since the call; the difference is unsigned, so a wrap of the
// counter is harmless. Count 0 or less returns after one read.
void PumpDelay(std::int32_t Count, TTickCounter& ticks, TPauseIdle& idle);

}  // namespace dov
