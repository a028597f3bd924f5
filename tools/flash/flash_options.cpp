#include "flash_options.h"

#include <array>
#include <cmath>

#include "command_line.h"

namespace dov::flash {
namespace {

using tools::ParseNumber;
using tools::TOption;

const std::array kOptions{
    TOption{'p', "port", "N",
            "the device's COM port number, 1..255 (default 3); give it\n"
            "again to flash several devices at once"},
    TOption{'a', "all", nullptr,
            "flash every device of the updater (USB 1fc9:0083) that --list\n"
            "finds; only those devices are reset"},
    TOption{'s', "serial", "SN",
            "flash the one device whose USB serial number is exactly SN\n"
            "(no wildcards, case kept); only that device is reset"},
#ifndef _WIN32
    TOption{'d', "device", "PATH",
            "the device node to use as COMn, for a device that has no\n"
            "comN link in the DOS-device directory (one port only)"},
#endif
    TOption{'i', "image", "FILE",
            "send FILE instead of the built-in image: a raw binary of\n"
            "exactly 20480 bytes, or Intel HEX that gives addresses 0 up\n"
            "to at most 20479 once each (0xFF fills the rest)"},
    TOption{'n', "no-reset", nullptr, "do not start the device console tool"},
    TOption{'w', "wait-port", "SECONDS",
            "after the pauses, keep trying to open a port that is not\n"
            "there yet for up to SECONDS (0..3600)"},
    TOption{'l', "list", nullptr,
            "list the serial ports (COM name, device node, USB ids, serial\n"
            "number, product; '*' marks the updater's devices) and exit"},
    TOption{'j', "json", nullptr,
            "print the report (or the list) as JSON; several devices give\n"
            "an array"},
    TOption{'q', "quiet", nullptr, "no progress on the standard error stream"},
    TOption{'v', "verbose", nullptr,
            "trace every step, write and pause on the standard error stream"},
    TOption{0, "log", "FILE",
            "write the same trace to FILE; refused when FILE is a symbolic\n"
            "link, a serial port or other terminal, a block device, the\n"
            "image, or a FIFO that no process reads"},
    tools::kHelpOption,
    tools::kVersionOption,
};

constexpr double kMaxWaitSeconds = 3600;

// Stores one option's value; false when the value is refused.
bool Apply(const tools::TGivenOption& given, TFlashOptions& options) {
  const std::string& v = given.Value;
  if (given.Is("port")) {
    unsigned port = 0;
    if (!ParseNumber(v, port) || port < 1 || port > 255) return false;
    options.Ports.push_back(static_cast<std::uint8_t>(port));
  } else if (given.Is("wait-port")) {
    double seconds = -1;
    if (!ParseNumber(v, seconds) || !std::isfinite(seconds) || seconds < 0 ||
        seconds > kMaxWaitSeconds) {
      return false;
    }
    options.WaitPortMs =
        static_cast<std::uint32_t>(std::lround(seconds * 1000));
  } else if (given.Option->Value != nullptr && v.empty()) {
    return false;  // every text value must say something
  } else if (given.Is("image")) {
    options.Image = v;
  } else if (given.Is("device")) {
    options.Device = v;
  } else if (given.Is("serial")) {
    options.Serial = v;
  } else if (given.Is("log")) {
    options.LogFile = v;
  } else {
    bool& flag = given.Is("all")        ? options.All
                 : given.Is("no-reset") ? options.Reset
                 : given.Is("list")     ? options.List
                 : given.Is("json")     ? options.Json
                 : given.Is("quiet")    ? options.Quiet
                 : given.Is("verbose")  ? options.Verbose
                 : given.Is("help")     ? options.Help
                                        : options.Version;
    flag = !given.Is("no-reset");
  }
  return true;
}

// Choices that cannot go together.
std::string Conflict(const TFlashOptions& options) {
  const int picks = (options.Ports.empty() ? 0 : 1) + (options.All ? 1 : 0) +
                    (options.Serial ? 1 : 0);
  if (picks > 1) return "--port, --all and --serial exclude each other";
  if (options.Device &&
      (options.Ports.size() > 1 || options.All || options.Serial)) {
    return "--device maps one port: give at most one --port with it";
  }
  for (std::size_t i = 0; i < options.Ports.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (options.Ports[i] == options.Ports[j]) {
        return "COM" + std::to_string(options.Ports[i]) + " is given twice";
      }
    }
  }
  return {};
}

}  // namespace

std::string Usage() {
  return "Usage: dov-flash [options]\n"
         "\n"
         "Puts the device into its loader and sends it a new program, with "
         "the\n"
         "same steps and pauses as the update dialog (about 26.5 seconds).\n"
         "\n" +
         tools::OptionHelp(kOptions) +
         "\n"
         "Progress goes to the standard error stream (a bar per device on a\n"
         "terminal, lines otherwise); the final report to the standard "
         "output.\n"
         "Several devices are flashed at once, each on its own port and "
         "with\n"
         "its own pauses, after one shared reset; the exit code is the "
         "worst.\n"
         "Output that cannot be written (a reader gone, a full disk) or is "
         "not\n"
         "read is dropped, never waited for; the report's warnings say what "
         "was\n"
         "lost, and name a device reset that failed (the update goes on).\n"
         "A port error adds a line with the device the COM name led to and "
         "the\n"
         "system's text.\n"
         "\n"
         "Exit codes:\n"
         "  0  the image was sent\n"
         "  2  usage: the command line is wrong, or --log names a file that "
         "must\n"
         "     not be written\n"
         "  3  bad image: --image names no image that can be sent\n"
         "  4  port open failed: the port could not be opened, or --serial "
         "or\n"
         "     --all found no such device (or more than one)\n"
         "  5  transfer failed: the port opened, but the transfer broke off\n"
         "  130  interrupted by SIGINT; 143 by SIGTERM, 129 by SIGHUP (128 + "
         "the\n"
         "       signal's number): the update stopped at its next pause and\n"
         "       the port was released; a device that got part of the image\n"
         "       must be flashed again. A signal to a gang's process stops\n"
         "       every device; a gang killed outright stops each device as\n"
         "       SIGHUP would\n";
}

std::optional<TFlashOptions> ParseOptions(std::span<const std::string> args,
                                          std::string& error) {
  TFlashOptions options;
  if (!tools::ApplyCommandLine(
          kOptions, args,
          [&](const tools::TGivenOption& given) {
            return Apply(given, options);
          },
          error)) {
    return std::nullopt;
  }
  if (options.Help || options.Version) return options;
  error = Conflict(options);
  if (!error.empty()) return std::nullopt;
  if (options.Ports.empty() && !options.All && !options.Serial) {
    options.Ports.push_back(3);
  }
  return options;
}

}  // namespace dov::flash
