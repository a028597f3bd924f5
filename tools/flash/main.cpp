// dov-flash: the update without a window, for scripts, production lines and
// machines without a display. It runs the dialog's update procedure and
// reports the outcome in its exit code.
#include <algorithm>
#include <chrono>
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
#include "printable_text.h"
#include "selected_devices_tool.h"
#include "serial_ports.h"
#include "terminal_width.h"
#include "text_progress.h"
#include "updater/device_console.h"
#include "updater/output_channel.h"
#include "updater/update_trace.h"
#include "updater/waiting_pause.h"
#include "watched_device_console.h"

namespace {

using namespace dov::flash;
using namespace std::chrono_literals;

constexpr char kTool[] = "dov-flash";

// How long the end of the program waits for each of the trace, the error
// stream and the report to be taken by their readers; what is left then is
// dropped.
constexpr auto kOutputBound = 1000ms;

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

// The standard streams, written without waiting for their readers.
struct TConsole {
  dov::TOutputChannel Out{1};
  dov::TOutputChannel Err{2};

  // A message for people on the error stream, escaped.
  void Say(const std::string& text) {
    Err.Put(std::string(kTool) + ": " + dov::tools::Printable(text) + "\n");
  }
};

// What one run needs besides its options.
struct TRun {
  const TFlashOptions& Options;
  TConsole& Console;
  dov::TUpdateTrace* Trace = nullptr;
  // Set by --serial and --all: the reset names these devices alone.
  std::vector<std::string> ResetPatterns;
};

// Ends the trace and the error stream, each within its bound: what could
// not be written of them, as warnings.
std::vector<std::string> EndOutput(const TRun& run) {
  std::vector<std::string> warnings;
  if (run.Trace != nullptr) {
    const std::string incomplete = run.Trace->Finish(kOutputBound);
    if (!incomplete.empty()) warnings.push_back(incomplete);
  }
  run.Console.Err.Close(kOutputBound);
  const std::string dropped =
      DroppedNote(run.Console.Err, "progress and messages");
  if (!dropped.empty()) warnings.push_back(dropped);
  return warnings;
}

// The report of one device or of a gang, on the standard output.
int Report(const TRun& run, std::vector<TFlashOutcome> outcomes, bool gang) {
  const std::vector<std::string> warnings = EndOutput(run);
  for (TFlashOutcome& outcome : outcomes) {
    outcome.Warnings.insert(outcome.Warnings.end(), warnings.begin(),
                            warnings.end());
  }
  const std::string text =
      gang ? (run.Options.Json ? FormatJson(outcomes) : FormatText(outcomes))
           : (run.Options.Json ? FormatJson(outcomes.front())
                               : FormatText(outcomes.front()));
  run.Console.Out.Put(text);
  run.Console.Out.Close(kOutputBound);
  // A request to stop the gang ends it with that request's code, also where
  // a device had finished before it came.
  const int signal = InterruptionSignal();
  return gang && signal != 0 ? kExitInterrupted + signal
         : gang              ? WorstStatus(outcomes)
                             : ExitStatus(outcomes.front());
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
  run.Console.Say(error);
  if (run.Trace != nullptr) run.Trace->Note("error: " + error);
  return Report(run, {outcome}, false);
}

// The reset as the run asks for it: none, every device of the vendor (as
// the dialog makes it), or the selected devices alone. Each call's end is
// watched.
class TReset {
 public:
  explicit TReset(const TRun& run) {
    if (!run.Options.Reset) {
      tool_ = &none_;
      return;
    }
    console_.emplace(dov::TDeviceConsole().Tool(), run.Trace);
    tool_ = &*console_;
    if (!run.ResetPatterns.empty()) {
      selected_.emplace(*console_, run.ResetPatterns);
      tool_ = &*selected_;
    }
  }
  dov::TToolLauncher& Tool() { return *tool_; }
  // The calls that failed, once every call has ended.
  std::vector<std::string> Warnings() {
    return console_ ? console_->Warnings() : std::vector<std::string>{};
  }

 private:
  TNoTool none_;
  std::optional<TWatchedDeviceConsole> console_;
  std::optional<TSelectedDevicesTool> selected_;
  dov::TToolLauncher* tool_ = nullptr;
};

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
  TReset reset(run);
  TTextProgress progress(options.Quiet ? nullptr : &run.Console.Err,
                         IsTerminal(stderr));

  TFlashOutcome outcome =
      RunFlash({options.Ports.front(), bytes, options.WaitPortMs},
               {ticks, idle, reset.Tool(), progress, run.Trace});
  progress.Finish();
  if (!outcome.Error.empty()) run.Console.Say(outcome.Error);
  if (!outcome.ErrorDetail.empty()) run.Console.Say(outcome.ErrorDetail);
  for (const std::string& warning : reset.Warnings()) {
    run.Console.Say("warning: " + warning);
    outcome.Warnings.push_back(warning);
  }
  return Report(run, {outcome}, false);
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
  MarkGangParent();
  TReset reset(run);
  auto outcomes =
      RunGang(job, options.Reset ? &reset.Tool() : nullptr,
              {options.Quiet && !options.Verbose ? nullptr : &run.Console.Err,
               IsTerminal(stderr)},
              run.Trace);
  // The reset was shared: its failures concern every device.
  for (const std::string& warning : reset.Warnings()) {
    run.Console.Say("warning: " + warning);
    for (TFlashOutcome& outcome : outcomes) outcome.Warnings.push_back(warning);
  }
  return Report(run, std::move(outcomes), true);
}

int List(const TFlashOptions& options, TConsole& console) {
  const TPortList list = ListSerialPorts();
  console.Out.Put(options.Json ? FormatPortListJson(list)
                               : FormatPortList(list));
  console.Out.Close(kOutputBound);
  return kExitOk;
}

// --serial and --all pick their ports from the list of serial ports, and
// reset the devices they picked alone.
int PickAndFlash(TFlashOptions options, const TRun& run) {
  const TPortList list = ListSerialPorts();
  std::vector<std::string> patterns;
  if (options.Serial) {
    std::string error;
    const auto port = FindBySerial(list, *options.Serial, error);
    if (!port) return Refuse(run, kExitOpenFailed, error);
    options.Ports = {static_cast<std::uint8_t>(*port->ComNumber)};
    patterns.push_back(port->ResetPattern());
  }
  for (const TSerialPort& port : list.Ports) {
    if (options.All && port.Ours() && port.ComNumber) {
      options.Ports.push_back(static_cast<std::uint8_t>(*port.ComNumber));
      if (std::find(patterns.begin(), patterns.end(), port.ResetPattern()) ==
          patterns.end()) {
        patterns.push_back(port.ResetPattern());
      }
    }
  }
  const TRun picked{options, run.Console, run.Trace, patterns};
  if (options.Ports.empty()) {
    return Refuse(picked, kExitOpenFailed,
                  "--all found no device of the updater with a COM name; "
                  "the serial ports are:\n" +
                      FormatPortList(list));
  }
  return options.Ports.size() == 1 ? Flash(picked) : FlashGang(picked);
}

int Run(const TFlashOptions& options) {
  TConsole console;
  if (options.List) return List(options, console);
  std::unique_ptr<dov::TUpdateTrace> trace;
  if (options.Verbose || options.LogFile) {
    trace = std::make_unique<dov::TUpdateTrace>();
    if (options.Verbose) trace->AddOutput(console.Err);
    std::string error;
    std::vector<std::string> reads;
    if (options.Image) reads.push_back(*options.Image);
    if (options.LogFile && options.Ports.size() <= 1 &&
        !trace->AddFile(*options.LogFile, error, reads)) {
      trace.reset();
      console.Err.Put(dov::tools::UsageError(kTool, error));
      console.Err.Close(kOutputBound);
      return kExitUsage;
    }
    std::string started = dov::tools::VersionText(kTool);
    started.back() = ' ';
    trace->Note(started + "started");
  }
  if (trace != nullptr && !options.Reset) {
    trace->Note("device console: not started (--no-reset)");
  }
  const TRun run{options, console, trace.get(), {}};
  if (options.Serial || options.All) return PickAndFlash(options, run);
  return options.Ports.size() == 1 ? Flash(run) : FlashGang(run);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a port must never take the number of a
  // closed standard stream, or the progress text would go to the device.
  if (!cport::comm::KeepStandardStreamsOpen()) return kExitOpenFailed;
  WatchForInterruption();
  WatchTerminalWidth();
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
