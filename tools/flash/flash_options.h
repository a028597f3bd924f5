// The command line of dov-flash and its exit codes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dov::flash {

enum ExitCode : int {
  kExitOk = 0,              // the whole image went out with its pauses
  kExitUsage = 2,           // the command line is wrong
  kExitBadImage = 3,        // --image names no image that can be sent
  kExitOpenFailed = 4,      // the port could not be opened (or not found)
  kExitTransferFailed = 5,  // the port opened, but the transfer broke off
  // Stopped by a signal: 128 plus its number, as a shell shows a program
  // that a signal ended (130 SIGINT, 143 SIGTERM, 129 SIGHUP).
  kExitInterrupted = 128,
};

struct TFlashOptions {
  // COMn, 1..255, each flashed at the same time; {3} when none is given.
  std::vector<std::uint8_t> Ports;
  // Every device of the updater's vendor found on the machine.
  bool All = false;
  // The one device with this USB serial number.
  std::optional<std::string> Serial;
  // A device node to reach as COMn without a link of its own (not on
  // Windows).
  std::optional<std::string> Device;
  // A file to send instead of the built-in image.
  std::optional<std::string> Image;
  bool Reset = true;  // start the device console tool
  // How long to keep trying to open a port that is not there yet.
  std::uint32_t WaitPortMs = 0;
  bool Json = false;
  bool Quiet = false;                  // no progress
  bool Verbose = false;                // the trace on the standard error stream
  std::optional<std::string> LogFile;  // the trace into a file
  bool List = false;                   // list the serial ports and stop
  bool Help = false;
  bool Version = false;
};

// The --help text, with the exit codes.
std::string Usage();

// `args` excludes the program name. On a mistake returns nothing and sets
// `error`.
std::optional<TFlashOptions> ParseOptions(std::span<const std::string> args,
                                          std::string& error);

}  // namespace dov::flash
