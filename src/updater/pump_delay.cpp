#include "updater/pump_delay.h"

namespace dov {

void PumpDelay(std::int32_t Count, TTickCounter& ticks, TPauseIdle& idle) {
  const std::int64_t length =
      std::int64_t{Count} * 10 * ticks.TicksPerMillisecond();
  const std::uint32_t start = ticks.Ticks();
  for (;;) {
    const std::uint32_t elapsed = ticks.Ticks() - start;
    if (elapsed > length) return;
    idle.Idle(static_cast<std::uint32_t>(length - elapsed + 1));
  }
}

}  // namespace dov
