// The pauses of an update without spinning: a pause sleeps until the counter
// will have moved far enough, waking early only for what the program must
// handle meanwhile (messages of its windows, calls marshalled to this thread
// such as the port's notifications), which it handles before it sleeps on.
#pragma once

#include <chrono>
#include <cstdint>

#include "cport/fw/application.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"

namespace dov {

// Microseconds of the steady clock in 32 unsigned bits (a wrap every 71
// minutes is harmless to intervals of seconds). A pause thus ends within a
// microsecond of its minimum instead of at the next millisecond. It
// remembers where its last reading fell, so a pause can sleep to the very
// instant the counter reaches a value.
class TSteadyTickCounter : public TTickCounter {
 public:
  using Clock = std::chrono::steady_clock;

  std::uint32_t Ticks() override;
  std::uint32_t TicksPerMillisecond() const override { return 1000; }
  // When the counter shows `ticks` more than at its last reading.
  Clock::time_point InstantAfter(std::uint32_t ticks) const;

 private:
  std::chrono::microseconds last_{0};
};

class TWaitingIdle : public TPauseIdle {
 public:
  TWaitingIdle(cport::fw::TApplication& application, TSteadyTickCounter& ticks)
      : application_(application), ticks_(ticks) {}
  // Sleeps until the counter has advanced by `remaining` since its last
  // reading or until there is something to handle, and handles what is
  // pending when that came first.
  void Idle(std::uint32_t remaining) override;

 private:
  cport::fw::TApplication& application_;
  TSteadyTickCounter& ticks_;
};

}  // namespace dov
