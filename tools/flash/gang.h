// Gang flashing: several devices at once, each in a dov-flash process of its
// own with its own port and its own paced stream, after one reset that all
// share. A device that fails or vanishes only ends its own process; a
// request to stop this process is passed on to every device's process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "flasher.h"
#include "terminal_width.h"
#include "updater/device_console.h"
#include "updater/output_channel.h"
#include "updater/update_trace.h"

namespace dov::flash {

struct TGangJob {
  std::filesystem::path Program;  // dov-flash itself
  std::vector<std::uint8_t> Ports;
  // Options every device's process gets (image, wait, trace).
  std::vector<std::string> Options;
  // Per port, the option that names its trace file (--log FILE.COMn).
  std::string LogFile;
};

struct TGangView {
  TOutputChannel* Progress = nullptr;              // null: no progress
  bool Terminal = false;                           // rows redrawn in place
  std::function<int()> Columns = TerminalColumns;  // the terminal's width
};

// Flashes every port of the job. The tool, when given, is started for the
// whole gang with the pauses of one update (and noted in the trace, when
// there is one). Results are in the job's port order; a process that ends
// without a report gives a failed result.
std::vector<TFlashOutcome> RunGang(const TGangJob& job, TToolLauncher* tool,
                                   TGangView view,
                                   TUpdateTrace* trace = nullptr);

// The process's exit code for the results: that of the worst.
int WorstStatus(const std::vector<TFlashOutcome>& outcomes);

}  // namespace dov::flash
