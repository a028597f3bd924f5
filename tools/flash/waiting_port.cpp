#include "waiting_port.h"

#include "cport/errors.h"

namespace dov::flash {

TWaitingComPort::TWaitingComPort(std::uint32_t waitMs, TTickCounter& ticks,
                                 TPauseIdle& idle)
    : cport::TComPort(nullptr), waitMs_(waitMs), ticks_(ticks), idle_(idle) {}

void TWaitingComPort::CreateDeviceHandle() {
  const std::uint32_t start = ticks_.Ticks();
  for (;;) {
    try {
      cport::TComPort::CreateDeviceHandle();
      return;
    } catch (const cport::EComPort& error) {
      const std::uint64_t waited = ticks_.Ticks() - start;
      if (error.Code() != cport::CodeOf(cport::CE_OpenFailed) ||
          waited >= std::uint64_t{waitMs_} * ticks_.TicksPerMillisecond()) {
        throw;
      }
    }
    PumpDelay(kRetryCount, ticks_, idle_);
  }
}

}  // namespace dov::flash
