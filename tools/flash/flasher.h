// One update run without a window: the update procedure the dialog runs, on
// a port of its own, with the outcome reported rather than shown in a box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/firmware_image.h"
#include "flash_options.h"
#include "updater/controls.h"
#include "updater/device_console.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"
#include "updater/update_trace.h"

namespace dov::flash {

struct TFlashJob {
  std::uint8_t Port = 3;
  std::span<const std::uint8_t, kFirmwareImageSize> Image = FirmwareImage;
  // How long the open keeps trying while the port is not there yet; 0 tries
  // once.
  std::uint32_t WaitPortMs = 0;
};

// What the run needs around it, all used on the calling thread.
struct TFlashSeams {
  TTickCounter& Ticks;
  TPauseIdle& Idle;
  TToolLauncher& Tool;
  TProgressBarControl& ProgressBar;
  TUpdateTrace* Trace = nullptr;  // none when null
};

struct TFlashOutcome {
  ExitCode Code = kExitOk;
  std::string PortName;       // "COM3"
  std::size_t BytesSent = 0;  // boot command and image bytes the port took
  std::size_t BytesTotal = 0;
  std::uint32_t DurationMs = 0;  // on the tick counter
  std::string Error;             // the failure's message, empty on success
  // The system's error number behind Error, 0 when it has none.
  int SystemError = 0;
  // For a port error: which device the COM name reached (when the port
  // opened, the one opened) and the system's text ("COM3 (/dev/ttyACM0): No
  // such file or directory").
  std::string ErrorDetail;
  int Signal = 0;  // what interrupted the run (kExitInterrupted)
  // What went wrong beside the update without stopping it: a device reset
  // that failed, output or trace that could not be written.
  std::vector<std::string> Warnings;
};

// The process's exit code for the outcome: its code, plus the signal's
// number for an interrupted run.
int ExitStatus(const TFlashOutcome& outcome);

// The bytes a whole update sends: the boot command and the image.
std::size_t UpdateBytes();

// Runs one update on COM<job.Port> and says how it went: kExitOk, or
// kExitOpenFailed when the port never opened, or kExitTransferFailed when
// the transfer broke off after it opened, or kExitInterrupted when a pause
// met EInterrupted. The port is closed when it returns. Never throws for a
// port error.
TFlashOutcome RunFlash(const TFlashJob& job, TFlashSeams seams);

}  // namespace dov::flash
