#include "gang.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "child_process.h"
#include "cport/fw/text.h"
#include "flash_report.h"

namespace dov::flash {
namespace {

using namespace std::chrono_literals;

// The device's progress as its process reports it, drawn for all devices.
class TGangProgress {
 public:
  TGangProgress(const std::vector<std::uint8_t>& ports, TGangView view)
      : view_(view), rows_(ports.size()) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
      rows_[i].Name = "COM" + std::to_string(ports[i]);
    }
  }

  // One line of the process's error stream: its progress, or a message
  // passed on with the port's name in front.
  void Line(std::size_t device, const std::string& line) {
    std::lock_guard lock(mutex_);
    if (view_.Progress == nullptr) return;
    int percent = 0;
    if (std::sscanf(line.c_str(), "progress: %d%%", &percent) == 1) {
      rows_[device].Percent = percent;
      if (view_.Terminal) return Draw();
    } else if (view_.Terminal) {
      Erase();
    }
    std::fprintf(view_.Progress, "%s: %s\n", rows_[device].Name.c_str(),
                 line.c_str());
    if (view_.Terminal) Draw();
    std::fflush(view_.Progress);
  }

  void Done(std::size_t device, const TFlashOutcome& outcome) {
    std::lock_guard lock(mutex_);
    rows_[device].State = ResultName(outcome.Code);
    if (view_.Progress != nullptr && view_.Terminal) Draw();
  }

 private:
  struct TRow {
    std::string Name;
    int Percent = 0;
    std::string State;
  };

  void Erase() {
    if (drawn_ == 0) return;
    std::fprintf(view_.Progress, "\x1b[%zuA\x1b[J", drawn_);
    drawn_ = 0;
  }

  void Draw() {
    Erase();
    for (const TRow& row : rows_) {
      const int filled = std::clamp(row.Percent, 0, 100) * 30 / 100;
      std::fprintf(
          view_.Progress, "%-6s [%s%s] %3d%% %s\n", row.Name.c_str(),
          std::string(static_cast<std::size_t>(filled), '#').c_str(),
          std::string(static_cast<std::size_t>(30 - filled), '.').c_str(),
          row.Percent, row.State.c_str());
    }
    drawn_ = rows_.size();
    std::fflush(view_.Progress);
  }

  std::mutex mutex_;
  TGangView view_;
  std::vector<TRow> rows_;
  std::size_t drawn_ = 0;
};

TFlashOutcome Missing(std::uint8_t port, const std::string& why) {
  TFlashOutcome outcome;
  outcome.Code = kExitTransferFailed;
  outcome.PortName = "COM" + std::to_string(port);
  outcome.BytesTotal = UpdateBytes();
  outcome.Error = why;
  return outcome;
}

// Runs one device's process to its end.
TFlashOutcome RunDevice(const TGangJob& job, std::size_t device,
                        TGangProgress& progress) {
  const std::uint8_t port = job.Ports[device];
  std::vector<std::string> args{"--port", std::to_string(port), "--no-reset",
                                "--json"};
  args.insert(args.end(), job.Options.begin(), job.Options.end());
  if (!job.LogFile.empty()) {
    args.insert(args.end(),
                {"--log", job.LogFile + ".COM" + std::to_string(port)});
  }
  std::unique_ptr<TChildProcess> child;
  try {
    child = std::make_unique<TChildProcess>(job.Program, args);
  } catch (const std::runtime_error& error) {
    return Missing(port, error.what());
  }
  for (std::string line; child->ReadErrorLine(line);) {
    progress.Line(device, line);
  }
  const std::string report = child->ReadOutput();
  const int code = child->Wait();
  auto outcome = ParseJson(report);
  if (!outcome) {
    outcome = Missing(port, "its dov-flash process ended (exit code " +
                                std::to_string(code) + ") without a report");
    // A refusal of its command line (a --log file it cannot write) keeps
    // its own code; anything else broke the transfer.
    if (code == kExitUsage) outcome->Code = kExitUsage;
  }
  return *outcome;
}

// The reset the update procedure would make, once for all devices, with
// its pauses: the device processes run the same pauses without a tool.
void SharedReset(TToolLauncher& tool, TUpdateTrace* trace) {
  for (const char16_t* parameters : {kDisableDevice, kEnableDevice}) {
    std::this_thread::sleep_for(500ms);
    tool.Start(parameters);
    if (trace != nullptr) {
      trace->Note("device console, for every device: " +
                  cport::fw::ToUtf8(parameters));
    }
  }
}

}  // namespace

std::vector<TFlashOutcome> RunGang(const TGangJob& job, TToolLauncher* tool,
                                   TGangView view, TUpdateTrace* trace) {
  TGangProgress progress(job.Ports, view);
  std::vector<TFlashOutcome> outcomes(job.Ports.size());
  std::vector<std::thread> devices;
  for (std::size_t i = 0; i < job.Ports.size(); ++i) {
    devices.emplace_back([&, i] {
      outcomes[i] = RunDevice(job, i, progress);
      progress.Done(i, outcomes[i]);
    });
  }
  if (tool != nullptr) SharedReset(*tool, trace);
  for (std::thread& device : devices) device.join();
  return outcomes;
}

int WorstStatus(const std::vector<TFlashOutcome>& outcomes) {
  const TFlashOutcome* worst = nullptr;
  for (const TFlashOutcome& outcome : outcomes) {
    if (worst == nullptr || outcome.Code > worst->Code) worst = &outcome;
  }
  return worst == nullptr ? kExitOk : ExitStatus(*worst);
}

}  // namespace dov::flash
