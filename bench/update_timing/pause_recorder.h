// Measures the real length of every pause of an update. It stands between
// the update and its tick counter and idle work, and recognises a pause by
// its shape: two readings of the counter (the start and the first check),
// then idle work until a reading lies more than the pause's length past the
// start. The length follows from the first idle call's `remaining`.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "updater/pump_delay.h"
#include "updater/tick_counter.h"

namespace bench {

class TPauseRecorder : public dov::TTickCounter, public dov::TPauseIdle {
 public:
  using Clock = std::chrono::steady_clock;

  struct TPause {
    std::uint32_t MinimumMs;  // Count x 10
    double ActualMs;          // from the start reading to the end reading
    Clock::time_point End;
    double MarginMs() const { return ActualMs - MinimumMs; }
  };

  TPauseRecorder(dov::TTickCounter& ticks, dov::TPauseIdle& idle)
      : ticks_(ticks), idle_(idle) {}

  std::uint32_t Ticks() override;
  std::uint32_t TicksPerMillisecond() const override {
    return ticks_.TicksPerMillisecond();
  }
  void Idle(std::uint32_t remaining) override;

  const std::vector<TPause>& Pauses() const { return pauses_; }
  void Clear();

 private:
  struct TReading {
    std::uint32_t Tick = 0;
    Clock::time_point Time;
  };

  dov::TTickCounter& ticks_;
  dov::TPauseIdle& idle_;
  TReading previous_;  // the two latest readings
  TReading latest_;
  bool inPause_ = false;
  TReading start_;
  std::uint32_t length_ = 0;
  std::vector<TPause> pauses_;
};

}  // namespace bench
