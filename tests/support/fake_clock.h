// A tick counter that tests move by hand, and the pause idle that goes with
// it: one millisecond per idle turn, pending messages first, as in the
// dialog. `at` lets a test act at a chosen moment of an update.
#pragma once

#include <cstdint>
#include <functional>

#include "cport/fw/application.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"

namespace dov::testing {

struct FakeTicks : TTickCounter {
  std::uint32_t now = 0;
  std::uint32_t Ticks() override { return now; }
};

struct FakeIdle : TPauseIdle {
  FakeIdle(FakeTicks& t, cport::fw::TApplication& a)
      : ticks(t), application(a) {}
  void Idle(std::uint32_t) override {
    application.ProcessMessages();
    ++ticks.now;
    if (at) at(ticks.now);
  }
  FakeTicks& ticks;
  cport::fw::TApplication& application;
  std::function<void(std::uint32_t)> at;
};

}  // namespace dov::testing
