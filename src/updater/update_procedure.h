// The update: the device console tool resets the device, the port opens,
// "BootUp@" puts the device into its loader, and the program image follows
// in 128-byte blocks of four 32-byte writes. The pacing is the protocol:
// nothing comes back from the device, so every pause is a minimum gap.
//
// One implementation serves every front end (the dialog, a command-line
// flasher): they differ only in the seams they give it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "firmware/firmware_image.h"
#include "updater/controls.h"
#include "updater/device_console.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"
#include "updater/update_trace.h"

namespace cport {
class TCustomComPort;
}

namespace dov {

inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kChunkSize = 32;
inline constexpr char16_t kBootCommand[] = u"BootUp@";

class TUpdateProcedure {
 public:
  using TImage = std::span<const std::uint8_t, kFirmwareImageSize>;

  // What the procedure needs around it. All are used on the calling thread.
  struct TSeams {
    TTickCounter& Ticks;
    TPauseIdle& Idle;
    TToolLauncher& Tool;
    TProgressBarControl& ProgressBar;
    // Where the steps, writes and pauses are traced; none when null.
    TUpdateTrace* Trace = nullptr;
  };

  TUpdateProcedure(cport::TCustomComPort& port, TSeams seams,
                   TImage image = FirmwareImage);
  TUpdateProcedure(const TUpdateProcedure&) = delete;
  TUpdateProcedure& operator=(const TUpdateProcedure&) = delete;

  // Runs one whole update and returns at its end. Errors of the port and a
  // short write (EShortWrite) end it at the failing step; nothing is undone.
  // The port is left open. A call while an update runs (from inside one of
  // its pauses) returns at once: one port and one block buffer allow one
  // update at a time.
  void Run();
  bool Running() const { return running_; }
  TUpdateTrace* Trace() const { return seams_.Trace; }

  // Writes BlockBuf as four paced 32-byte writes, then the gap after a block.
  void SendBlock();
  // A pause of more than Count x 10 ms (see dov::PumpDelay).
  void PumpDelay(std::int32_t Count);

  // The COM port number, 1..30; read when the port is named, so a change
  // made during the first pauses of an update still counts.
  std::uint8_t PortNumber = 3;
  // The block being assembled; BlockLen is the 1-based position the next
  // byte takes (1: empty, 129: full).
  std::array<std::uint8_t, kBlockSize> BlockBuf{};
  std::uint8_t BlockLen = 1;

 private:
  void Steps();
  // A write that moved fewer bytes than asked ends the update.
  void CheckWritten(std::int32_t written, std::int32_t requested);
  void StartTool(const std::u16string& parameters);
  void Note(const char* text);

  cport::TCustomComPort& port_;
  TSeams seams_;
  TImage image_;
  bool running_ = false;
};

}  // namespace dov
