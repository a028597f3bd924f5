#include "devcon.h"

#include <array>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "command_line.h"
#include "glob_match.h"
#include "printable_text.h"
#include "usb_devices.h"

namespace devcon {
namespace {

constexpr char kTool[] = "devcon";

const std::array kOptions{
    dov::tools::TOption{'x', "exact", nullptr,
                        "match PATTERN as written: no wildcards, case kept"},
    dov::tools::kHelpOption, dov::tools::kVersionOption};

std::string Usage() {
  return "Usage: devcon [--exact] disable PATTERN\n"
         "  or:  devcon [--exact] enable PATTERN\n"
         "\n"
         "Disables or enables the USB devices that PATTERN matches.\n"
         "\n"
         "PATTERN matches hardware ids such as USB\\VID_1FC9&PID_0083,\n"
         "ignoring case; '*' matches any run of characters, '?' one.\n"
         "@PATTERN matches instance ids instead, which name one device:\n"
         "USB\\VID_1FC9&PID_0083\\<serial number>.\n"
         "\n" +
         dov::tools::OptionHelp(kOptions) +
         "\n"
         "The sysfs tree is DOV_SYSFS_ROOT when set, otherwise /sys.\n"
         "\n"
         "Exit codes:\n"
         "  0  done\n"
         "  1  failed\n"
         "  2  usage: the command line is wrong\n"
         "  3  no device matched\n";
}

// Switching a device off or on takes the kernel a moment; a devcon still
// holding the lock after this long has hung.
constexpr int kLockBoundMs = 30000;

}  // namespace

bool Matches(const std::string& pattern, const UsbDevice& device, bool exact) {
  const bool instance = pattern.starts_with('@');
  const std::string_view wanted =
      instance ? std::string_view(pattern).substr(1) : pattern;
  const std::string& id = instance ? device.instance_id : device.hardware_id;
  return exact ? wanted == id : GlobMatch(wanted, id);
}

int Run(const std::vector<std::string>& args, const std::string& sysfs_root,
        std::ostream& out, std::ostream& err) {
  std::string error;
  const auto line = dov::tools::ParseCommandLine(kOptions, args, error);
  bool exact = false;
  for (const auto& given :
       line ? line->Options : std::vector<dov::tools::TGivenOption>{}) {
    if (given.Is("exact")) {
      exact = true;
      continue;
    }
    out << (given.Is("help") ? Usage() : dov::tools::VersionText(kTool));
    return kExitOk;
  }
  if (line && (line->Operands.size() != 2 || (line->Operands[0] != "disable" &&
                                              line->Operands[0] != "enable"))) {
    error = line->Operands.empty() ? "no command given"
            : line->Operands.size() == 1
                ? "missing PATTERN after " + line->Operands[0]
                : "expected disable PATTERN or enable PATTERN";
  }
  if (!error.empty()) {
    err << dov::tools::UsageError(kTool, error);
    return kExitUsage;
  }
  const bool enable = line->Operands[0] == "enable";
  const std::string& pattern = line->Operands[1];

  std::optional<DeviceListLock> lock;
  std::vector<UsbDevice> devices;
  try {
    lock.emplace(sysfs_root, kLockBoundMs);
    devices = ListUsbDevices(sysfs_root);
  } catch (const std::runtime_error& e) {
    err << "devcon: " << e.what() << '\n';
    return kExitFailed;
  }

  int matched = 0;
  int failed = 0;
  for (const UsbDevice& device : devices) {
    if (!Matches(pattern, device, exact)) continue;
    ++matched;
    const std::string failure = SetAuthorized(device, enable);
    if (failure.empty()) {
      out << device.hardware_id << " (" << device.dir.filename().string()
          << "): " << (enable ? "Enabled" : "Disabled") << '\n';
    } else {
      ++failed;
      err << "devcon: " << failure << '\n';
    }
  }
  if (matched == 0) {
    err << "devcon: no device matches " << dov::tools::Printable(pattern)
        << '\n';
    return kExitNoMatch;
  }
  out << matched - failed << " device(s) " << (enable ? "enabled" : "disabled")
      << ".\n";
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace devcon
