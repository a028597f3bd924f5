#include "gang.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "child_process.h"
#include "cport/fw/text.h"
#include "flash_report.h"
#include "interruption.h"
#include "text_progress.h"

namespace dov::flash {
namespace {

using namespace std::chrono_literals;

// How often the gang looks for a request to stop while it waits.
constexpr auto kStopCheck = 50ms;

constexpr int kRowBar = 30;
constexpr int kNarrowestRowBar = 5;

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
    }
    std::string text = Erase() + rows_[device].Name + ": " + line + "\n";
    if (view_.Terminal) text += Rows();
    view_.Progress->Put(text);
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

  // Up over the rows drawn last, and the screen below cleared.
  std::string Erase() {
    if (drawn_ == 0) return {};
    const std::string up = "\x1b[" + std::to_string(drawn_) + "A\x1b[J";
    drawn_ = 0;
    return up;
  }

  // Each row fits the terminal's width, so none wraps into a line that the
  // next redraw would not go back over.
  std::string Rows() {
    const int columns = view_.Columns();
    std::string text;
    for (const TRow& row : rows_) {
      const std::string counts =
          "] " + std::to_string(row.Percent) + "% " + row.State;
      const int width =
          std::clamp(columns - 1 - 8 - static_cast<int>(counts.size()),
                     kNarrowestRowBar, kRowBar);
      const int filled = std::clamp(row.Percent, 0, 100) * width / 100;
      std::string line = row.Name;
      line.resize(std::max<std::size_t>(line.size(), 6), ' ');
      line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(width - filled), '.') +
              counts;
      text += FitLine(line, columns) + "\n";
    }
    drawn_ = rows_.size();
    return text;
  }

  void Draw() { view_.Progress->Put(Erase() + Rows()); }

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

// The device processes that run, so that a request to stop reaches each:
// one made after the request is stopped as soon as it is registered.
class TGangMembers {
 public:
  void Join(TChildProcess& child) {
    std::lock_guard lock(mutex_);
    members_.push_back(&child);
    if (stop_ != 0) child.Signal(stop_);
  }
  void Leave(TChildProcess& child) {
    std::lock_guard lock(mutex_);
    std::erase(members_, &child);
  }
  void Stop(int signal) {
    std::lock_guard lock(mutex_);
    if (stop_ != 0) return;
    stop_ = signal;
    for (TChildProcess* child : members_) child->Signal(signal);
  }

 private:
  std::mutex mutex_;
  std::vector<TChildProcess*> members_;
  int stop_ = 0;
};

// Runs one device's process to its end.
TFlashOutcome RunDevice(const TGangJob& job, std::size_t device,
                        TGangProgress& progress, TGangMembers& members) {
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
  members.Join(*child);
  // Its last message is kept also when progress is not shown: a process
  // that ends without a report names its reason in it.
  std::string last;
  for (std::string line; child->ReadErrorLine(line);) {
    progress.Line(device, line);
    if (line.starts_with("dov-flash: ")) last = line;
  }
  const std::string report = child->ReadOutput();
  const int code = child->Wait();
  members.Leave(*child);
  auto outcome = ParseJson(report);
  if (!outcome) {
    outcome = Missing(port, "its dov-flash process ended (" + child->Ending() +
                                ") without a report" +
                                (last.empty() ? "" : ": " + last));
    // A refusal of its command line (a --log file it cannot write) keeps
    // its own code; a process that a passed-on request to stop ended before
    // it could note it was interrupted; anything else broke the transfer.
    if (code == kExitUsage) outcome->Code = kExitUsage;
    if (code < 0 && InterruptionSignal() != 0) {
      outcome->Code = kExitInterrupted;
      outcome->Signal = InterruptionSignal();
    }
  }
  return *outcome;
}

// The reset the update procedure would make, once for all devices, with
// its pauses: the device processes run the same pauses without a tool. A
// request to stop ends it between its steps.
void SharedReset(TToolLauncher& tool, TUpdateTrace* trace) {
  for (const char16_t* parameters : {kDisableDevice, kEnableDevice}) {
    for (auto slept = 0ms; slept < 500ms; slept += kStopCheck) {
      if (InterruptionSignal() != 0) return;
      std::this_thread::sleep_for(kStopCheck);
    }
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
  TGangMembers members;
  std::vector<TFlashOutcome> outcomes(job.Ports.size());
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t running = job.Ports.size();
  std::vector<std::thread> devices;
  for (std::size_t i = 0; i < job.Ports.size(); ++i) {
    devices.emplace_back([&, i] {
      outcomes[i] = RunDevice(job, i, progress, members);
      progress.Done(i, outcomes[i]);
      std::lock_guard lock(mutex);
      if (--running == 0) ended.notify_all();
    });
  }
  if (tool != nullptr) SharedReset(*tool, trace);
  // A request to stop that reaches this process alone (kill on its number)
  // is passed on to every device's process, which stops at its next pause.
  std::unique_lock lock(mutex);
  while (!ended.wait_for(lock, kStopCheck, [&] { return running == 0; })) {
    if (const int signal = InterruptionSignal()) members.Stop(signal);
  }
  lock.unlock();
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
