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
  const auto end = ticks_.InstantAfter(remaining);
  application_.WaitForMessages(end);
  // A wait that ran to the pause's end leaves what arrived in its last
  // instant to the next pause, which handles it first: the pause ends on
  // time instead of after a round of message handling.
  if (TSteadyTickCounter::Clock::now() < end) application_.ProcessMessages();
}

}  // namespace dov
