// The device console: disables or enables the USB devices whose hardware id
// matches a wildcard pattern.
//
//   devcon disable <pattern>
//   devcon enable <pattern>
//
// The sysfs tree is taken from DOV_SYSFS_ROOT when set (a fixture tree in
// tests), otherwise /sys.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "usb_devices.h"

namespace devcon {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,   // a device could not be switched, or no device list
  kExitUsage = 2,    // wrong verb or wrong number of arguments
  kExitNoMatch = 3,  // no device matched the pattern
};

// Whether the device is one the pattern names: its hardware id, or with a
// leading '@' its instance id; `exact`: the pattern is the id itself, byte
// for byte (a serial number may hold '*', '?' and either case), else a glob
// that ignores case.
bool Matches(const std::string& pattern, const UsbDevice& device,
             bool exact = false);

// args excludes the program name.
int Run(const std::vector<std::string>& args, const std::string& sysfs_root,
        std::ostream& out, std::ostream& err);

}  // namespace devcon
