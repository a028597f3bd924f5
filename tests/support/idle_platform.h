// A dialog's platform for tests that only look at the dialog: time stands
// still, pauses return at once and no tool is started.
#pragma once

#include <cstdint>
#include <string>

#include "updater/device_console.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"

namespace dov {

struct TIdlePlatform : TTickCounter, TPauseIdle, TToolLauncher {
  std::uint32_t Ticks() override { return 0; }
  void Idle(std::uint32_t) override {}
  void Start(const std::u16string&) override {}
};

}  // namespace dov
