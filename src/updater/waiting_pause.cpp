#include "updater/waiting_pause.h"

namespace dov {

using std::chrono::duration_cast;
using std::chrono::microseconds;

std::uint32_t TSteadyTickCounter::Ticks() {
  last_ = duration_cast<microseconds>(Clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(last_.count());
}

TSteadyTickCounter::Clock::time_point TSteadyTickCounter::InstantAfter(
    std::uint32_t ticks) const {
  return Clock::time_point(last_ + microseconds(ticks));
}

void TWaitingIdle::Idle(std::uint32_t remaining) {
  application_.WaitForMessages(ticks_.InstantAfter(remaining));
  application_.ProcessMessages();
}

}  // namespace dov
