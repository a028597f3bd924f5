// A port whose open waits for a device that is not there yet, as a USB
// device is not for a while after it re-enumerates.
#pragma once

#include <cstdint>

#include "cport/comport.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"

namespace dov::flash {

class TWaitingComPort : public cport::TComPort {
 public:
  // An open that fails to find or open the device tries again every
  // kRetryCount x 10 ms, pausing as the update does, until `waitMs` have
  // passed since its first try; the last failure is then reported. With
  // waitMs 0 it tries once.
  TWaitingComPort(std::uint32_t waitMs, TTickCounter& ticks, TPauseIdle& idle);

  std::u16string ClassName() const override { return u"TWaitingComPort"; }

  static constexpr std::int32_t kRetryCount = 10;

 protected:
  void CreateDeviceHandle() override;

 private:
  std::uint32_t waitMs_;
  TTickCounter& ticks_;
  TPauseIdle& idle_;
};

}  // namespace dov::flash
