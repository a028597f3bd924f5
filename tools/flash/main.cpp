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

#include "command_line.h"
#include "cport/comm/standard_streams.h"
#include "cport/fw/headless_application.h"
#include "flash_options.h"
#include "flash_report.h"
#include "flasher.h"
#include "gang.h"
#include "image_file.h"
#include "interruptible_pause.h"
#include "interruption.h"
#include "one_device_tool.h"
#include "serial_ports.h"
#include "text_progress.h"
#include "updater/device_console.h"
#include "updater/update_trace.h"
#include "updater/waiting_pause.h"

namespace {

using namespace dov::flash;

constexpr char kTool[] = "dov-flash";

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

std::filesystem::path OwnProgram() {
#ifdef _WIN32
  return dov::ExecutableDirectory() / "dov-flash.exe";
#else
  return dov::ExecutableDirectory() / kTool;
#endif
}

// What one run needs besides its options.
struct TRun {
  const TFlashOptions& Options;
  dov::TUpdateTrace* Trace = nullptr;
  // Set by --serial: the reset names this device alone.
  std::string InstancePattern;
};

int Report(const TRun& run, const TFlashOutcome& outcome) {
  const std::string text =
      run.Options.Json ? FormatJson(outcome) : FormatText(outcome);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return ExitStatus(outcome);
}

// A failure before the update could start, reported like the update's own.
int Refuse(const TRun& run, ExitCode code, const std::string& error) {
  TFlashOutcome outcome;
  outcome.Code = code;
  outcome.PortName = run.Options.Ports.empty()
                         ? "-"
                         : "COM" + std::to_string(run.Options.Ports.front());
  outcome.BytesTotal = UpdateBytes();
  outcome.Error = error;
  std::fprintf(stderr, "dov-flash: %s\n", error.c_str());
  if (run.Trace != nullptr) run.Trace->Note("error: " + error);
  return Report(run, outcome);
}

std::unique_ptr<dov::TToolLauncher> MakeTool(const TRun& run) {
  if (!run.Options.Reset) return std::make_unique<TNoTool>();
  return std::make_unique<dov::TDeviceConsole>();
}

int Flash(const TRun& run) {
  const TFlashOptions& options = run.Options;
  TImageBytes image{};
  std::span<const std::uint8_t, dov::kFirmwareImageSize> bytes =
      dov::FirmwareImage;
  if (options.Image) {
    try {
      image = LoadImageFile(*options.Image);
    } catch (const EBadImage& error) {
      return Refuse(run, kExitBadImage, error.what());
    }
    bytes = image;
  }

#ifndef _WIN32
  std::optional<TPrivateDosDevices> mapped;
  if (options.Device) {
    try {
      mapped.emplace(*options.Device, options.Ports.front());
    } catch (const std::exception& error) {
      return Refuse(run, kExitOpenFailed, error.what());
    }
  }
#endif

  cport::fw::HeadlessApplication application;
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle waiting(application, ticks);
  TInterruptibleIdle idle(waiting);
  const auto tool = MakeTool(run);
  std::optional<TOneDeviceTool> oneDevice;
  if (!run.InstancePattern.empty()) {
    oneDevice.emplace(*tool, run.InstancePattern);
  }
  TTextProgress progress(options.Quiet ? nullptr : stderr, IsTerminal(stderr));

  const TFlashOutcome outcome = RunFlash(
      {options.Ports.front(), bytes, options.WaitPortMs},
      {ticks, idle,
       oneDevice ? static_cast<dov::TToolLauncher&>(*oneDevice) : *tool,
       progress, run.Trace});
  progress.Finish();
  if (!outcome.Error.empty()) {
    std::fprintf(stderr, "dov-flash: %s\n", outcome.Error.c_str());
  }
  return Report(run, outcome);
}

// Several devices at once, each in a dov-flash process of its own.
int FlashGang(const TRun& run) {
  const TFlashOptions& options = run.Options;
  TGangJob job{OwnProgram(), options.Ports, {}, options.LogFile.value_or("")};
  if (options.Image)
    job.Options.insert(job.Options.end(), {"--image", *options.Image});
  if (options.WaitPortMs != 0) {
    job.Options.insert(
        job.Options.end(),
        {"--wait-port", std::to_string(options.WaitPortMs / 1000.0)});
  }
  if (options.Verbose) job.Options.push_back("--verbose");
  if (options.Quiet && !options.Verbose) job.Options.push_back("--quiet");
  if (run.Trace != nullptr) {
    run.Trace->Note("gang: " + std::to_string(options.Ports.size()) +
                    " devices, one process each");
  }
  const auto tool = options.Reset ? MakeTool(run) : nullptr;
  const auto outcomes =
      RunGang(job, tool.get(),
              {options.Quiet && !options.Verbose ? nullptr : stderr,
               IsTerminal(stderr)},
              run.Trace);
  const std::string text =
      options.Json ? FormatJson(outcomes) : FormatText(outcomes);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return WorstStatus(outcomes);
}

int List(const TFlashOptions& options) {
  const TPortList list = ListSerialPorts();
  const std::string text =
      options.Json ? FormatPortListJson(list) : FormatPortList(list);
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

// --serial and --all pick their ports from the list of serial ports.
int PickAndFlash(TFlashOptions options, TRun run) {
  const TPortList list = ListSerialPorts();
  if (options.Serial) {
    std::string error;
    const auto port = FindBySerial(list, *options.Serial, error);
    if (!port) return Refuse(run, kExitOpenFailed, error);
    options.Ports = {static_cast<std::uint8_t>(*port->ComNumber)};
    run.InstancePattern = port->InstancePattern();
    const TRun picked{options, run.Trace, run.InstancePattern};
    return Flash(picked);
  }
  for (const TSerialPort& port : list.Ports) {
    if (port.Ours() && port.ComNumber) {
      options.Ports.push_back(static_cast<std::uint8_t>(*port.ComNumber));
    }
  }
  const TRun picked{options, run.Trace, {}};
  if (options.Ports.empty()) {
    return Refuse(picked, kExitOpenFailed,
                  "--all found no device of the updater with a COM name; "
                  "the serial ports are:\n" +
                      FormatPortList(list));
  }
  return options.Ports.size() == 1 ? Flash(picked) : FlashGang(picked);
}

int Run(const TFlashOptions& options) {
  if (options.List) return List(options);
  std::unique_ptr<dov::TUpdateTrace> trace;
  if (options.Verbose || options.LogFile) {
    trace = std::make_unique<dov::TUpdateTrace>();
    if (options.Verbose) trace->AddOutput(stderr, false);
    std::string error;
    if (options.LogFile && options.Ports.size() <= 1 &&
        !trace->AddFile(*options.LogFile, error)) {
      std::fputs(dov::tools::UsageError(kTool, error).c_str(), stderr);
      return kExitUsage;
    }
    std::string started = dov::tools::VersionText(kTool);
    started.back() = ' ';
    trace->Note(started + "started");
  }
  if (trace != nullptr && !options.Reset) {
    trace->Note("device console: not started (--no-reset)");
  }
  const TRun run{options, trace.get(), {}};
  if (options.Serial || options.All) return PickAndFlash(options, run);
  return options.Ports.size() == 1 ? Flash(run) : FlashGang(run);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a port must never take the number of a
  // closed standard stream, or the progress text would go to the device.
  if (!cport::comm::KeepStandardStreamsOpen()) return kExitOpenFailed;
  WatchForInterruption();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, error);
  if (!options) {
    std::fputs(dov::tools::UsageError(kTool, error).c_str(), stderr);
    return kExitUsage;
  }
  if (options->Help) {
    std::fputs(Usage().c_str(), stdout);
    return kExitOk;
  }
  if (options->Version) {
    std::fputs(dov::tools::VersionText(kTool).c_str(), stdout);
    return kExitOk;
  }
#ifdef _WIN32
  // Sleeps and waits to the millisecond, not to the scheduler's 15.6 ms.
  timeBeginPeriod(1);
  const int code = Run(*options);
  timeEndPeriod(1);
  return code;
#else
  return Run(*options);
#endif
}
