#include "waiting_pause.h"

#include <algorithm>
#include <thread>

#include "interruption.h"

namespace dov::flash {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// How long a pause waits before it looks for a request to stop again.
constexpr milliseconds kStopCheck(50);

}  // namespace

std::uint32_t TSteadyTickCounter::Ticks() {
  last_ = duration_cast<microseconds>(Clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(last_.count());
}

TSteadyTickCounter::Clock::time_point TSteadyTickCounter::InstantAfter(
    std::uint32_t ticks) const {
  return Clock::time_point(last_ + microseconds(ticks));
}

void TWaitingIdle::Idle(std::uint32_t remaining) {
  StopIfInterrupted();
  const auto deadline = ticks_.InstantAfter(remaining);
  const auto left = deadline - TSteadyTickCounter::Clock::now();
  // Whole milliseconds in a wait that queued calls end early, at most
  // kStopCheck at a time so that a request to stop is seen soon; the last
  // fraction in a plain sleep, so the pause ends as the counter turns.
  if (left >= milliseconds(1)) {
    application_.WaitForWork(static_cast<std::uint32_t>(
        std::min(duration_cast<milliseconds>(left), kStopCheck).count()));
  } else {
    std::this_thread::sleep_until(deadline);
  }
  application_.ProcessMessages();
}

}  // namespace dov::flash
