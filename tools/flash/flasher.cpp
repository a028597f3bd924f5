#include "flasher.h"

#include <algorithm>
#include <exception>
#include <string>

#include "cport/comlink.h"
#include "cport/errors.h"
#include "cport/fw/application.h"
#include "cport/fw/os_error.h"
#include "cport/fw/text.h"
#include "interruption.h"
#include "serial_ports.h"
#include "updater/device_port.h"
#include "updater/update_error.h"
#include "updater/update_procedure.h"
#include "waiting_port.h"

namespace dov::flash {
namespace {

// Follows the port: whether it opened, the device its name led to then, and
// how many bytes its writes took.
class TTransferWatch : public cport::TComLink {
 public:
  explicit TTransferWatch(unsigned port) {
    SetOnConn([this, port](cport::fw::TObject*, bool on) {
      if (on && !opened_) device_ = ComDevicePath(port);
      opened_ = opened_ || on;
    });
    SetOnTxBuf(
        [this](cport::fw::TObject*, const std::uint8_t*, std::int32_t count) {
          sent_ += static_cast<std::size_t>(count);
        });
  }
  bool Opened() const { return opened_; }
  // The device opened; "" while the port has not opened.
  const std::string& Device() const { return device_; }
  std::size_t Sent() const { return sent_; }
  // A write cut short was counted in full when it completed.
  void Unsent(std::size_t count) { sent_ -= count; }

 private:
  bool opened_ = false;
  std::string device_;
  std::size_t sent_ = 0;
};

std::string Message(std::exception_ptr error) {
  return cport::fw::ToUtf8(cport::fw::TApplication::ExceptionMessage(error));
}

// The system's error number a port error carries, 0 for any other error.
int SystemError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const cport::EComPort& port) {
    return std::max(port.WinCode(), 0);
  } catch (...) {
    return 0;
  }
}

std::string InterruptedMessage(const EInterrupted& stop, bool opened) {
  return std::string(stop.what()) +
         (opened ? ": the device holds a partial image and must be flashed "
                   "again"
                 : " before the port was opened: nothing was sent");
}

}  // namespace

int ExitStatus(const TFlashOutcome& outcome) {
  return outcome.Code == kExitInterrupted ? kExitInterrupted + outcome.Signal
                                          : outcome.Code;
}

std::size_t UpdateBytes() {
  return std::char_traits<char16_t>::length(kBootCommand) + kFirmwareImageSize;
}

TFlashOutcome RunFlash(const TFlashJob& job, TFlashSeams seams) {
  TWaitingComPort port(job.WaitPortMs, seams.Ticks, seams.Idle);
  ConfigureDevicePort(port);
  port.SetOnRxChar([&port, &seams](cport::fw::TObject*, std::int32_t count) {
    DropReceived(port, count, seams.Trace);
  });
  TTransferWatch watch(job.Port);
  port.RegisterLink(&watch);

  TUpdateProcedure update(
      port,
      {seams.Ticks, seams.Idle, seams.Tool, seams.ProgressBar, seams.Trace},
      job.Image);
  update.PortNumber = job.Port;

  TFlashOutcome outcome;
  outcome.PortName = "COM" + std::to_string(job.Port);
  outcome.BytesTotal = UpdateBytes();
  const std::uint32_t start = seams.Ticks.Ticks();
  std::exception_ptr failure;
  try {
    update.Run();
  } catch (const EInterrupted& stop) {
    outcome.Code = kExitInterrupted;
    outcome.Signal = stop.Signal();
    outcome.Error = InterruptedMessage(stop, watch.Opened());
  } catch (const EShortWrite& error) {
    watch.Unsent(static_cast<std::size_t>(error.Requested() - error.Written()));
    failure = std::current_exception();
  } catch (...) {
    failure = std::current_exception();
  }
  outcome.DurationMs =
      (seams.Ticks.Ticks() - start) / seams.Ticks.TicksPerMillisecond();
  outcome.BytesSent = watch.Sent();
  if (failure) {
    outcome.Code = watch.Opened() ? kExitTransferFailed : kExitOpenFailed;
    outcome.Error = Message(failure);
    if (outcome.Error.empty()) outcome.Error = "the update failed";
    outcome.SystemError = SystemError(failure);
    // Which device the name led to, so that a missing link, a busy device
    // and one that vanished can be told apart.
    if (outcome.SystemError > 0) {
      outcome.ErrorDetail =
          outcome.PortName + " (" +
          (watch.Opened() ? watch.Device() : ComDevicePath(job.Port)) + "): " +
          cport::fw::ToUtf8(cport::fw::SysErrorMessage(
              static_cast<std::uint32_t>(outcome.SystemError)));
    }
  }
  port.UnRegisterLink(&watch);
  return outcome;
}

}  // namespace dov::flash
