// dov-flash: the update without a window, for scripts, production lines and
// machines without a display. It runs the dialog's update procedure and
// reports the outcome in its exit code.
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// windows.h first: timeapi.h needs its types.
#include <timeapi.h>
#else
#include <unistd.h>

#include "private_dos_devices.h"
#endif

#include "flash_options.h"
#include "flash_report.h"
#include "flasher.h"
#include "framework/headless_application.h"
#include "image_file.h"
#include "interruptible_pause.h"
#include "interruption.h"
#include "platform/standard_streams.h"
#include "text_progress.h"
#include "updater/device_console.h"
#include "updater/waiting_pause.h"

namespace {

using namespace dov::flash;

// --no-reset: the device is left as it is.
class TNoTool : public dov::TToolLauncher {
 public:
  void Start(const std::u16string&) override {}
};

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(fileno(stream)) != 0;
#endif
}

int Report(const TFlashOptions& options, const TFlashOutcome& outcome) {
  const std::string text =
      options.Json ? FormatJson(outcome) : FormatText(outcome);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return ExitStatus(outcome);
}

// A failure before the update could start, reported like the update's own.
int Refuse(const TFlashOptions& options, ExitCode code,
           const std::string& error) {
  TFlashOutcome outcome;
  outcome.Code = code;
  outcome.PortName = "COM" + std::to_string(options.Port);
  outcome.BytesTotal = UpdateBytes();
  outcome.Error = error;
  std::fprintf(stderr, "dov-flash: %s\n", error.c_str());
  return Report(options, outcome);
}

int Flash(const TFlashOptions& options) {
  TImageBytes image{};
  std::span<const std::uint8_t, dov::kFirmwareImageSize> bytes =
      dov::FirmwareImage;
  if (options.Image) {
    try {
      image = LoadImageFile(*options.Image);
    } catch (const EBadImage& error) {
      return Refuse(options, kExitBadImage, error.what());
    }
    bytes = image;
  }

#ifndef _WIN32
  std::optional<TPrivateDosDevices> mapped;
  if (options.Device) {
    try {
      mapped.emplace(*options.Device, options.Port);
    } catch (const std::exception& error) {
      return Refuse(options, kExitOpenFailed, error.what());
    }
  }
#endif

  fw::HeadlessApplication application;
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle waiting(application, ticks);
  TInterruptibleIdle idle(waiting);
  std::unique_ptr<dov::TToolLauncher> tool;
  if (options.Reset) {
    tool = std::make_unique<dov::TDeviceConsole>();
  } else {
    tool = std::make_unique<TNoTool>();
  }
  TTextProgress progress(stderr, IsTerminal(stderr));

  const TFlashOutcome outcome =
      RunFlash({options.Port, bytes, options.WaitPortMs},
               {ticks, idle, *tool, progress});
  progress.Finish();
  if (!outcome.Error.empty()) {
    std::fprintf(stderr, "dov-flash: %s\n", outcome.Error.c_str());
  }
  return Report(options, outcome);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a port must never take the number of a
  // closed standard stream, or the progress text would go to the device.
  if (!comm::KeepStandardStreamsOpen()) return kExitOpenFailed;
  WatchForInterruption();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, error);
  if (!options) {
    std::fprintf(stderr,
                 "dov-flash: %s\n(dov-flash --help lists the options)\n",
                 error.c_str());
    return kExitUsage;
  }
  if (options->Help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
#ifdef _WIN32
  // Sleeps and waits to the millisecond, not to the scheduler's 15.6 ms.
  timeBeginPeriod(1);
  const int code = Flash(*options);
  timeEndPeriod(1);
  return code;
#else
  return Flash(*options);
#endif
}
