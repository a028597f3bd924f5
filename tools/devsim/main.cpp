// dov-devsim: the device on a pseudo-terminal, for trying the updater
// without hardware.
#include <sched.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "firmware/firmware_image.h"
#include "options.h"
#include "platform/standard_streams.h"
#include "simulator.h"

namespace {

devsim::Simulator* g_simulator = nullptr;

extern "C" void OnSignal(int) {
  if (g_simulator != nullptr) g_simulator->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  if (!comm::KeepStandardStreamsOpen()) return devsim::kExitSetup;
  std::string error;
  auto cli = devsim::ParseCommandLine(
      std::vector<std::string>(argv + 1, argv + argc), error);
  if (!cli) {
    std::cerr << "dov-devsim: " << error << '\n' << devsim::kUsage;
    return devsim::kExitUsage;
  }
  if (cli->help) {
    std::cout << devsim::kUsage;
    return devsim::kExitPassed;
  }
  cli->config.image = dov::FirmwareImage;
  cli->config.dosdevices = devsim::DefaultDosDevicesDir();

  try {
    devsim::Simulator simulator(cli->config);
    g_simulator = &simulator;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Every way out that can be caught ends Run, which removes the link.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      sigaction(stop, &action, nullptr);
    }
    // A reader of the report that has gone fails the write, not the run.
    signal(SIGPIPE, SIG_IGN);

    // Arrival times are only as good as the reader's wake-up, so take
    // real-time priority where allowed. The loop always sleeps in poll, so
    // it cannot starve anything; without the right it runs as it is.
    sched_param priority{};
    priority.sched_priority = 10;
    sched_setscheduler(0, SCHED_FIFO, &priority);

    std::cerr << "dov-devsim: COM" << cli->config.port << " is "
              << simulator.SlavePath() << ", linked as "
              << simulator.LinkPath().string() << '\n';
    const devsim::Report report = simulator.Run();
    g_simulator = nullptr;

    std::cout << (cli->json ? devsim::FormatJson(report)
                            : devsim::FormatText(report));
    if (!cli->report_file.empty()) {
      std::ofstream file(cli->report_file);
      file << devsim::FormatJson(report);
      if (!file.flush()) {
        std::cerr << "dov-devsim: cannot write " << cli->report_file << '\n';
        return devsim::kExitFailed;
      }
    }
    return report.Passed() ? devsim::kExitPassed : devsim::kExitFailed;
  } catch (const std::exception& e) {
    g_simulator = nullptr;
    std::cerr << "dov-devsim: " << e.what() << '\n';
    return devsim::kExitSetup;
  }
}
