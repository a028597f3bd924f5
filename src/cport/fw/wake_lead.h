// How early a thread must ask to be woken to be awake at an instant. A timer
// comes back a little after its due time (tens of microseconds on Linux, a
// fraction of a millisecond or more on Windows and under Wine), so a wait
// that must end on time sets its timer that much early and spins the rest
// on the steady clock. The lead learns the lateness of the timers it sees.
#pragma once

#include <algorithm>
#include <chrono>

namespace cport::fw {

class TWakeLead {
 public:
  using Clock = std::chrono::steady_clock;

  TWakeLead(Clock::duration initial, Clock::duration least,
            Clock::duration most)
      : lead_(initial), least_(least), most_(most) {}

  Clock::duration Lead() const { return lead_; }

  // A timer due at `due` has woken the thread just now. The lead follows its
  // lateness, upwards at once and downwards slowly, so one late wake-up does
  // not make every later wait spin long, and a run of them is met.
  void Woke(Clock::time_point due) {
    const auto late =
        std::clamp<Clock::duration>(Clock::now() - due, least_, most_);
    lead_ = late > lead_ ? late : lead_ - (lead_ - late) / 32;
  }

 private:
  Clock::duration lead_;
  Clock::duration least_;
  Clock::duration most_;
};

}  // namespace cport::fw
