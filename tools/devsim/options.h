// Command line of dov-devsim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "simulator.h"

namespace devsim {

enum ExitCode : int {
  kExitPassed = 0,  // image intact, no pause below its minimum
  kExitFailed = 1,  // anything else the device saw
  kExitUsage = 2,
  kExitSetup = 3,  // no pseudo-terminal or no link
};

struct CommandLine {
  // Without port, image and DOS-device directory.
  SimulatorConfig config;
  // One device per port, in the order given; {3} when none is given.
  std::vector<int> ports;
  bool json = false;
  std::string report_file;
  // The picture of the pauses (FILE.COMn for each of several devices).
  std::string plot_file;
  // A dov-flash trace to draw into plot_file instead of playing a device.
  std::string plot_trace;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

std::string Usage();

// args excludes the program name. On a mistake returns nothing and sets
// error.
std::optional<CommandLine> ParseCommandLine(
    const std::vector<std::string>& args, std::string& error);

}  // namespace devsim
