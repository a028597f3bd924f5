// The pauses of dov-flash: the programs' waiting pause, which also looks for
// a request to stop before it sleeps and at least every 50 ms while it
// sleeps, so an interrupted update stops at its next pause.
#pragma once

#include <cstdint>

#include "updater/pump_delay.h"
#include "updater/waiting_pause.h"

namespace dov::flash {

class TInterruptibleIdle : public TPauseIdle {
 public:
  explicit TInterruptibleIdle(TWaitingIdle& waiting) : waiting_(waiting) {}
  // Throws EInterrupted, before it sleeps, once a request to stop has come.
  void Idle(std::uint32_t remaining) override;

 private:
  TWaitingIdle& waiting_;
};

}  // namespace dov::flash
