#include "options.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>

#include "command_line.h"

namespace devsim {
namespace {

using dov::tools::ParseNumber;
using dov::tools::TOption;

const std::array kOptions{
    TOption{'p', "port", "N",
            "COM port number, 1..255 (default 3); give it again to play\n"
            "several devices at once, each with its own report"},
    TOption{'j', "json", nullptr,
            "print the report as JSON (an array for several devices)"},
    TOption{'r', "report", "FILE", "also write the JSON report to FILE"},
    TOption{0, "plot", "FILE",
            "draw every pause against its minimum into FILE (PNG when it\n"
            "ends in .png, SVG otherwise; FILE.COMn.EXT for each of several\n"
            "devices)"},
    TOption{0, "plot-trace", "TRACE",
            "draw the pauses of a dov-flash --log trace into the --plot\n"
            "file, and play no device"},
    TOption{'v', "verbose", nullptr,
            "list each late delivery in the text report, not only their\n"
            "number"},
    TOption{'t', "timeout", "S", "stop and report after S seconds"},
    TOption{0, "ready-file", "FILE",
            "create FILE while the link exists (FILE.COMn for each of\n"
            "several devices); a FILE that is there already is left as it\n"
            "is"},
    TOption{
        0, "host-writes", "FILE",
        "the host's record of its writes to the line (\"<device> <entry ns>\n"
        "<return ns> <bytes>\" per write(), CLOCK_MONOTONIC): it then judges\n"
        "the pauses, each strictly above its minimum, and a short gap at\n"
        "the device is a late delivery"},
    TOption{'f', "force", nullptr,
            "replace an existing comN link (never a file that is not a link)"},
    TOption{0, "chatter", nullptr,
            "send bytes to the host every 50 ms and note how many it left\n"
            "unread by the end of the image"},
    TOption{0, "vanish-after", "N", "unplug after N image bytes"},
    TOption{0, "stop-reading", nullptr, "stop reading after BootUp@"},
    TOption{0, "appear-after", "MS",
            "make the link only after MS milliseconds"},
    TOption{0, "refuse-boot", nullptr, "ignore BootUp@"},
    TOption{0, "delivery-jitter", "MS",
            "how late the line may hand a write over (default 3; more for\n"
            "a host under Wine)"},
    dov::tools::kHelpOption,
    dov::tools::kVersionOption,
};

bool Positive(const std::string& text, double& value) {
  return ParseNumber(text, value) && std::isfinite(value) && value > 0;
}

// Stores one option; false when its value is refused.
bool Apply(const dov::tools::TGivenOption& given, CommandLine& cli) {
  SimulatorConfig& config = cli.config;
  const std::string& v = given.Value;
  if (given.Is("port")) {
    int port = 0;
    if (!ParseNumber(v, port) || port < 1 || port > 255) return false;
    cli.ports.push_back(port);
  } else if (given.Is("timeout")) {
    double seconds = 0;
    if (!Positive(v, seconds) || !std::isfinite(seconds * 1000)) return false;
    config.timeout_ms = seconds * 1000;
  } else if (given.Is("vanish-after")) {
    std::size_t bytes = 0;
    if (!ParseNumber(v, bytes)) return false;
    config.vanish_after = bytes;
  } else if (given.Is("appear-after")) {
    unsigned ms = 0;
    if (!ParseNumber(v, ms)) return false;
    config.appear_after_ms = ms;
  } else if (given.Is("delivery-jitter")) {
    double ms = 0;
    if (!ParseNumber(v, ms) || !std::isfinite(ms) || ms < 0 || ms > 50) {
      return false;
    }
    config.minimums.delivery_jitter_ms = ms;
  } else if (given.Option->Value != nullptr && v.empty()) {
    return false;
  } else if (given.Is("report")) {
    cli.report_file = v;
  } else if (given.Is("plot")) {
    cli.plot_file = v;
  } else if (given.Is("plot-trace")) {
    cli.plot_trace = v;
  } else if (given.Is("host-writes")) {
    config.host_writes = v;
  } else if (given.Is("ready-file")) {
    config.ready_file = v;
  } else {
    bool& flag = given.Is("json")           ? cli.json
                 : given.Is("force")        ? config.force
                 : given.Is("chatter")      ? config.chatter
                 : given.Is("stop-reading") ? config.stop_reading
                 : given.Is("refuse-boot")  ? config.refuse_boot
                 : given.Is("verbose")      ? cli.verbose
                 : given.Is("help")         ? cli.help
                                            : cli.version;
    flag = true;
  }
  return true;
}

}  // namespace

std::string Usage() {
  return "Usage: dov-devsim [options]\n"
         "\n"
         "Plays the device on a pseudo-terminal linked as COMn in the "
         "DOS-device\n"
         "directory ($WINEPREFIX/dosdevices, default ~/.wine/dosdevices): "
         "waits\n"
         "for BootUp@, records the image and checks every pause against "
         "its\n"
         "minimum.\n"
         "\n" +
         dov::tools::OptionHelp(kOptions) +
         "\n"
         "It reports when the whole image has arrived, on --timeout, or "
         "on\n"
         "SIGINT/SIGTERM.\n"
         "\n"
         "Exit codes:\n"
         "  0  the image arrived intact and paced correctly (on every port)\n"
         "  1  it did not\n"
         "  2  usage: the command line is wrong\n"
         "  3  a port could not be set up\n";
}

std::optional<CommandLine> ParseCommandLine(
    const std::vector<std::string>& args, std::string& error) {
  CommandLine cli;
  if (!dov::tools::ApplyCommandLine(
          kOptions, args,
          [&](const dov::tools::TGivenOption& given) {
            return Apply(given, cli);
          },
          error)) {
    return std::nullopt;
  }
  if (!cli.plot_trace.empty() && cli.plot_file.empty()) {
    error = "--plot-trace needs --plot FILE to draw into";
    return std::nullopt;
  }
  if (cli.ports.empty()) cli.ports.push_back(3);
  // A ready file that cannot be made would leave a waiting script waiting.
  if (const std::filesystem::path& ready = cli.config.ready_file;
      !ready.empty()) {
    const std::filesystem::path folder =
        ready.has_parent_path() ? ready.parent_path() : ".";
    if (!std::filesystem::is_directory(folder)) {
      error = "--ready-file: no folder " + folder.string();
      return std::nullopt;
    }
  }
  for (std::size_t i = 1; i < cli.ports.size(); ++i) {
    if (std::count(cli.ports.begin(), cli.ports.begin() + i, cli.ports[i])) {
      error = "COM" + std::to_string(cli.ports[i]) + " is given twice";
      return std::nullopt;
    }
  }
  return cli;
}

}  // namespace devsim
