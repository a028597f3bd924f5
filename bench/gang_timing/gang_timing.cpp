// Gang flashing against one device alone: the simulator plays one device,
// then eight, and one dov-flash updates them. For each run: the wall time
// of dov-flash, whether every image arrived intact, and every pause as each
// device's update timed it (from its trace), against its minimum.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using e2e::fs::path;
using std::chrono::milliseconds;

struct TPort {
  int Com = 0;
  bool Intact = false;
  int Pauses = 0;
  int Below = 0;  // pauses that did not exceed their minimum
  double MinMarginMs = 1e9;
  std::size_t DeviceBelow = 0;  // gaps the simulator saw below a minimum
};

struct TRun {
  double Seconds = 0;
  int ExitCode = -1;
  std::vector<TPort> Ports;
};

void ReadTrace(const path& trace, TPort& port) {
  static const std::regex pause(
      R"(pause: minimum (\d+) ms, actual ([0-9.]+) ms)");
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, pause)) continue;
    const double margin = std::stod(m[2]) - std::stod(m[1]);
    ++port.Pauses;
    if (margin <= 0) ++port.Below;
    port.MinMarginMs = std::min(port.MinMarginMs, margin);
  }
}

bool WaitFor(const path& file) {
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (!e2e::fs::exists(file)) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

TRun Flash(int devices) {
  e2e::TempPrefix prefix;
  const path ready = prefix.Path() / "ready";
  const path report = prefix.Path() / "report.json";
  const path trace = prefix.Path() / "trace";
  std::vector<std::string> simArgs{"--ready-file",  ready.string(), "--report",
                                   report.string(), "--timeout",    "120"};
  std::vector<std::string> flashArgs{"--no-reset", "--quiet", "--json", "--log",
                                     trace.string()};
  TRun run;
  for (int i = 0; i < devices; ++i) {
    run.Ports.push_back({3 + i});
    simArgs.insert(simArgs.end(), {"-p", std::to_string(3 + i)});
    flashArgs.insert(flashArgs.end(), {"-p", std::to_string(3 + i)});
  }
  e2e::Process sim(DOV_DEVSIM, simArgs, prefix.Path(), prefix.Path() / "sim");
  for (const TPort& port : run.Ports) {
    const path file =
        devices == 1 ? ready
                     : path(ready.string() + ".COM" + std::to_string(port.Com));
    if (!WaitFor(file)) {
      std::fprintf(stderr, "the simulator made no link: %s\n",
                   sim.Errors().c_str());
      std::exit(1);
    }
  }
  const auto start = Clock::now();
  e2e::Process flash(DOV_FLASH, flashArgs, prefix.Path(),
                     prefix.Path() / "flash");
  run.ExitCode = flash.Wait(milliseconds(120000)).value_or(-1);
  run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sim.Wait(milliseconds(30000));

  auto reports = nlohmann::json::parse(e2e::ReadFile(report), nullptr, false);
  if (!reports.is_array()) reports = nlohmann::json::array({reports});
  for (std::size_t i = 0; i < run.Ports.size(); ++i) {
    TPort& port = run.Ports[i];
    if (i < reports.size() && reports[i].is_object()) {
      port.Intact = reports[i].value("intact", false);
      port.DeviceBelow =
          reports[i].value("below_minimum", nlohmann::json::array()).size();
    }
    ReadTrace(devices == 1
                  ? trace
                  : path(trace.string() + ".COM" + std::to_string(port.Com)),
              port);
  }
  return run;
}

bool Print(const char* name, const TRun& run) {
  bool sound = run.ExitCode == 0;
  std::printf("%s: %.3f s, dov-flash exit code %d\n", name, run.Seconds,
              run.ExitCode);
  for (const TPort& port : run.Ports) {
    std::printf(
        "  COM%-3d image %s, host pauses %d, below minimum %d, smallest "
        "margin %.3f ms (device saw %zu gaps below a minimum)\n",
        port.Com, port.Intact ? "intact" : "NOT INTACT", port.Pauses,
        port.Below, port.MinMarginMs, port.DeviceBelow);
    sound = sound && port.Intact && port.Pauses == 805 && port.Below == 0;
  }
  return sound;
}

}  // namespace

int main(int argc, char** argv) {
  const int devices =
      argc > 2 && std::string(argv[1]) == "--devices" ? std::atoi(argv[2]) : 8;
  if (devices < 2 || devices > 64) {
    std::fprintf(stderr,
                 "usage: gang_timing [--devices N]  (2..64, default 8)\n");
    return 2;
  }
  const TRun one = Flash(1);
  const TRun gang = Flash(devices);
  const bool soundOne = Print("one device", one);
  const bool soundGang = Print("gang", gang);
  const double ratio = gang.Seconds / one.Seconds;
  std::printf("%d devices together / one device: %.4f (target at most 1.03)\n",
              devices, ratio);
  std::printf("every image intact and every host pause above its minimum: %s\n",
              soundOne && soundGang ? "yes" : "NO");
  return soundOne && soundGang && ratio <= 1.03 ? 0 : 1;
}
