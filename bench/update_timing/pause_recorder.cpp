#include "pause_recorder.h"

namespace bench {

std::uint32_t TPauseRecorder::Ticks() {
  const std::uint32_t tick = ticks_.Ticks();
  const Clock::time_point now = Clock::now();
  previous_ = latest_;
  latest_ = {tick, now};
  if (inPause_ && tick - start_.Tick > length_) {
    const std::chrono::duration<double, std::milli> actual = now - start_.Time;
    pauses_.push_back(
        {length_ / ticks_.TicksPerMillisecond(), actual.count(), now});
    inPause_ = false;
  }
  return tick;
}

void TPauseRecorder::Idle(std::uint32_t remaining) {
  if (!inPause_) {
    // The pause started with the reading before the latest one; the latest
    // found `elapsed` ticks gone and `remaining` = length - elapsed + 1.
    start_ = previous_;
    length_ = remaining + (latest_.Tick - previous_.Tick) - 1;
    inPause_ = true;
  }
  idle_.Idle(remaining);
}

void TPauseRecorder::Clear() {
  pauses_.clear();
  inPause_ = false;
}

}  // namespace bench
