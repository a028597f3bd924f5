// dov-devsim: the device on a pseudo-terminal, for trying the updater
// without hardware. Several ports play several devices at once, each on a
// thread of its own.
#include <sched.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "cport/comm/standard_streams.h"
#include "firmware/firmware_image.h"
#include "options.h"
#include "plot_files.h"
#include "simulator.h"

namespace {

constexpr char kTool[] = "dov-devsim";

std::vector<devsim::Simulator*> g_simulators;

extern "C" void OnSignal(int) {
  for (devsim::Simulator* simulator : g_simulators) simulator->Stop();
}

// Several reports: the text ones one after the other, the JSON ones as an
// array.
std::string Join(const std::vector<std::string>& parts, bool json) {
  if (parts.size() == 1) return parts.front();
  std::string text = json ? "[\n" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += json ? ",\n" : "\n";
    text += parts[i];
  }
  return json ? text + "]\n" : text;
}

}  // namespace

int main(int argc, char** argv) {
  if (!cport::comm::KeepStandardStreamsOpen()) return devsim::kExitSetup;
  std::string error;
  auto cli = devsim::ParseCommandLine(
      std::vector<std::string>(argv + 1, argv + argc), error);
  if (!cli) {
    std::cerr << dov::tools::UsageError(kTool, error);
    return devsim::kExitUsage;
  }
  if (cli->help) {
    std::cout << devsim::Usage();
    return devsim::kExitPassed;
  }
  if (cli->version) {
    std::cout << dov::tools::VersionText(kTool);
    return devsim::kExitPassed;
  }
  if (!cli->plot_trace.empty()) {
    if (!devsim::PlotTrace(cli->plot_trace, cli->plot_file,
                           cli->config.minimums.writes_per_block, error)) {
      std::cerr << "dov-devsim: " << error << '\n';
      return devsim::kExitFailed;
    }
    return devsim::kExitPassed;
  }
  cli->config.image = dov::FirmwareImage;
  cli->config.dosdevices = devsim::DefaultDosDevicesDir();

  std::vector<std::unique_ptr<devsim::Simulator>> simulators;
  try {
    for (const int port : cli->ports) {
      devsim::SimulatorConfig config = cli->config;
      config.port = port;
      if (cli->ports.size() > 1 && !config.ready_file.empty()) {
        config.ready_file += ".COM" + std::to_string(port);
      }
      simulators.push_back(std::make_unique<devsim::Simulator>(config));
      g_simulators.push_back(simulators.back().get());
    }
  } catch (const std::exception& e) {
    std::cerr << "dov-devsim: " << e.what() << '\n';
    return devsim::kExitSetup;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Every way out that can be caught ends each Run, which removes its link.
  for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaction(stop, &action, nullptr);
  }
  // A reader of the report that has gone fails the write, not the run.
  signal(SIGPIPE, SIG_IGN);

  // Arrival times are only as good as the reader's wake-up, so take
  // real-time priority where allowed. The loops always sleep in poll, so
  // they cannot starve anything; without the right they run as they are.
  sched_param priority{};
  priority.sched_priority = 10;
  sched_setscheduler(0, SCHED_FIFO, &priority);

  std::vector<devsim::Report> reports(simulators.size());
  std::vector<std::string> failures(simulators.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < simulators.size(); ++i) {
    std::cerr << "dov-devsim: COM" << cli->ports[i] << " is "
              << simulators[i]->SlavePath() << ", linked as "
              << simulators[i]->LinkPath().string() << '\n';
    threads.emplace_back([&, i] {
      try {
        reports[i] = simulators[i]->Run();
      } catch (const std::exception& e) {
        failures[i] = e.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  g_simulators.clear();

  bool setupFailed = false;
  bool pictureFailed = false;
  bool passed = true;
  std::vector<std::string> shown;
  std::vector<std::string> json;
  for (std::size_t i = 0; i < simulators.size(); ++i) {
    if (!failures[i].empty()) {
      std::cerr << "dov-devsim: " << failures[i] << '\n';
      setupFailed = true;
      continue;
    }
    passed = passed && reports[i].Passed();
    json.push_back(devsim::FormatJson(reports[i]));
    shown.push_back(cli->json ? json.back()
                              : devsim::FormatText(reports[i], cli->verbose));
    if (cli->plot_file.empty()) continue;
    const std::filesystem::path plot =
        simulators.size() > 1
            ? devsim::PlotFileOfPort(cli->plot_file, cli->ports[i])
            : std::filesystem::path(cli->plot_file);
    if (!devsim::PlotReport(reports[i], plot, error)) {
      std::cerr << "dov-devsim: " << error << '\n';
      pictureFailed = true;
    }
  }
  if (!shown.empty()) std::cout << Join(shown, cli->json);
  if (!cli->report_file.empty() && !json.empty()) {
    std::ofstream file(cli->report_file);
    file << Join(json, true);
    if (!file.flush()) {
      std::cerr << "dov-devsim: cannot write " << cli->report_file << '\n';
      return devsim::kExitFailed;
    }
  }
  if (setupFailed) return devsim::kExitSetup;
  return passed && !pictureFailed ? devsim::kExitPassed : devsim::kExitFailed;
}
