#include "waiting_pause.h"

#include <thread>

namespace dov::flash {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

std::uint32_t TSteadyTickCounter::Ticks() {
  last_ = duration_cast<microseconds>(Clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(last_.count());
}

TSteadyTickCounter::Clock::time_point TSteadyTickCounter::InstantAfter(
    std::uint32_t ticks) const {
  return Clock::time_point(last_ + microseconds(ticks));
}

void TWaitingIdle::Idle(std::uint32_t remaining) {
  const auto deadline = ticks_.InstantAfter(remaining);
  const auto left = deadline - TSteadyTickCounter::Clock::now();
  // Whole milliseconds in a wait that queued calls end early; the last
  // fraction in a plain sleep, so the pause ends as the counter turns.
  if (left >= milliseconds(1)) {
    application_.WaitForWork(
        static_cast<std::uint32_t>(duration_cast<milliseconds>(left).count()));
  } else {
    std::this_thread::sleep_until(deadline);
  }
  application_.ProcessMessages();
}

}  // namespace dov::flash
