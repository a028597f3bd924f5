#include "interruptible_pause.h"

#include <algorithm>

#include "interruption.h"

namespace dov::flash {
namespace {

// How long a pause sleeps, in ticks of the microsecond counter, before it
// looks for a request to stop again.
constexpr std::uint32_t kStopCheckTicks = 50'000;

}  // namespace

void TInterruptibleIdle::Idle(std::uint32_t remaining) {
  StopIfInterrupted();
  waiting_.Idle(std::min(remaining, kStopCheckTicks));
}

}  // namespace dov::flash
