// How long an update takes and what it costs, against the device simulator
// on a pseudo-terminal: dov-flash's update (its own code, in this process)
// and the Qt dialog's (offscreen, "Update" clicked). For each run: the time
// from the start of the update to the end of its last pause against the
// protocol's minimum (the sum of the minimum pauses), the smallest margin
// by which a pause exceeded its minimum as the host measured it and as the
// device saw the gaps, and the CPU time of the process.
#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cport/fw/headless_application.h"
#include "cport/fw/qt_application.h"
#include "cport/fw/text.h"
#include "e2e_support.h"
#include "flasher.h"
#include "form4_view.h"
#include "pause_recorder.h"
#include "text_progress.h"
#include "updater/waiting_pause.h"

namespace {

using bench::TPauseRecorder;
using Clock = std::chrono::steady_clock;

// The minimum pauses of one update (805 of them), added up.
constexpr double kProtocolMinimumMs = 26450;

struct TRun {
  std::string Path;
  double DurationMs = 0;
  std::size_t Pauses = 0;
  double HostMinMarginMs = 0;
  double MeanOverMs = 0;  // the mean of (pause length - its minimum)
  double OutsideMs = 0;   // the update's time outside its pauses
  std::size_t HostBelow = 0;
  std::string DeviceMinMarginMs;
  std::size_t DeviceBelow = 0;
  bool DevicePassed = false;
  double CpuS = 0;
  std::string Error;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TNoTool : dov::TToolLauncher {
  void Start(const std::u16string&) override {}
};

std::size_t CountBelow(const std::string& report) {
  const std::size_t from = report.find("\"below_minimum\"");
  const std::size_t to = report.find("\"gaps\"");
  std::size_t count = 0;
  for (std::size_t at = report.find("{\"write\"", from);
       at != std::string::npos && at < to;
       at = report.find("{\"write\"", at + 1))
    ++count;
  return count;
}

// One update on a fresh simulator; `update` runs it and returns its error
// message, if any.
TRun Measure(const std::string& path, TPauseRecorder& recorder,
             const std::function<std::string()>& update) {
  TRun run;
  run.Path = path;
  e2e::TempPrefix prefix;
  setenv("WINEPREFIX", prefix.Path().c_str(), 1);
  e2e::Simulator device(prefix, 3);
  if (!device.WaitReady()) {
    run.Error = "the simulator did not start";
    return run;
  }
  recorder.Clear();
  const double cpu = CpuSeconds();
  const Clock::time_point start = Clock::now();
  run.Error = update();
  run.CpuS = CpuSeconds() - cpu;

  const auto& pauses = recorder.Pauses();
  run.Pauses = pauses.size();
  if (!pauses.empty()) {
    run.DurationMs =
        std::chrono::duration<double, std::milli>(pauses.back().End - start)
            .count();
    run.HostMinMarginMs = pauses.front().MarginMs();
    double pausedMs = 0;
    for (const auto& pause : pauses) {
      run.HostMinMarginMs = std::min(run.HostMinMarginMs, pause.MarginMs());
      if (pause.ActualMs <= pause.MinimumMs) ++run.HostBelow;
      run.MeanOverMs += pause.MarginMs() / static_cast<double>(pauses.size());
      pausedMs += pause.ActualMs;
    }
    run.OutsideMs = run.DurationMs - pausedMs;
  }
  const std::string report = device.Report(std::chrono::milliseconds(10000));
  run.DeviceMinMarginMs = e2e::JsonField(report, "smallest_margin_ms");
  run.DeviceBelow = CountBelow(report);
  run.DevicePassed = e2e::JsonField(report, "passed") == "true";
  return run;
}

TRun FlashRun() {
  cport::fw::HeadlessApplication application;
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle(application, ticks);
  TPauseRecorder recorder(ticks, idle);
  TNoTool tool;
  std::FILE* sink = std::fopen("/dev/null", "w");
  dov::flash::TTextProgress progress(sink, false);
  TRun run = Measure("dov-flash", recorder, [&] {
    return dov::flash::RunFlash({3}, {recorder, recorder, tool, progress})
        .Error;
  });
  std::fclose(sink);
  return run;
}

TRun DialogRun() {
  cport::fw::TQtApplication application;
  std::string error;
  application.SetShowException(
      [&](const std::u16string& message, const std::u16string&) {
        error = cport::fw::ToUtf8(message);
      });
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle(application, ticks);
  TPauseRecorder recorder(ticks, idle);
  TNoTool tool;
  dov::TForm4View view({recorder, recorder, tool});
  view.show();
  application.ProcessMessages();
  return Measure("dialog", recorder, [&] {
    view.Button8()->click();
    return error;
  });
}

void PrintTable(const std::vector<TRun>& runs) {
  std::printf("%-10s %12s %9s %7s %12s %9s %11s %6s %12s %6s %7s  %s\n", "path",
              "duration ms", "/minimum", "pauses", "host margin", "mean over",
              "outside ms", "below", "dev. margin", "below", "CPU s",
              "device verdict");
  for (const TRun& r : runs) {
    std::printf(
        "%-10s %12.1f %9.4f %7zu %9.3f ms %6.3f ms %11.1f %6zu %9s ms %6zu "
        "%7.3f  %s%s%s\n",
        r.Path.c_str(), r.DurationMs, r.DurationMs / kProtocolMinimumMs,
        r.Pauses, r.HostMinMarginMs, r.MeanOverMs, r.OutsideMs, r.HostBelow,
        r.DeviceMinMarginMs.c_str(), r.DeviceBelow, r.CpuS,
        r.DevicePassed ? "PASS" : "FAIL",
        r.Error.empty() ? "" : ", error: ", r.Error.c_str());
  }
  std::printf(
      "\nminimum: %.0f ms, the sum of the update's minimum pauses.\n"
      "host margin: smallest real pause length minus its minimum, as the "
      "updater timed it;\n"
      "mean over: the mean of that over all pauses (how late a pause's "
      "thread ran again);\n"
      "outside: the update's time outside its pauses (writes, progress "
      "bar);\n"
      "dev. margin: smallest gap between writes minus its minimum, as the "
      "simulator saw the bytes arrive.\n"
      "targets: no pause below its minimum; dov-flash and the dialog "
      "within 1 %% of the minimum and under 0.5 s CPU per update.\n",
      kProtocolMinimumMs);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 1;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: update_timing [--runs N] [--only flash|dialog]\n");
      return 2;
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qt(argc, argv);

  std::vector<TRun> results;
  for (int i = 0; i < runs; ++i) {
    if (only.empty() || only == "flash") results.push_back(FlashRun());
    if (only.empty() || only == "dialog") results.push_back(DialogRun());
  }
  PrintTable(results);
  return 0;
}
