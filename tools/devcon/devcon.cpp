#include "devcon.h"

#include <optional>
#include <ostream>
#include <stdexcept>

#include "glob_match.h"
#include "usb_devices.h"

namespace devcon {
namespace {

constexpr const char* kUsage =
    "usage: devcon disable <pattern>\n"
    "       devcon enable <pattern>\n"
    "  <pattern> matches hardware ids such as USB\\VID_1FC9&PID_0083,\n"
    "  ignoring case; '*' matches any run of characters, '?' one.\n"
    "exit codes: 0 done, 1 failed, 2 usage, 3 no device matched\n";

// Switching a device off or on takes the kernel a moment; a devcon still
// holding the lock after this long has hung.
constexpr int kLockBoundMs = 30000;

}  // namespace

int Run(const std::vector<std::string>& args, const std::string& sysfs_root,
        std::ostream& out, std::ostream& err) {
  if (args.size() != 2 || (args[0] != "disable" && args[0] != "enable")) {
    err << kUsage;
    return kExitUsage;
  }
  const bool enable = args[0] == "enable";
  const std::string& pattern = args[1];

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
    if (!GlobMatch(pattern, device.hardware_id)) continue;
    ++matched;
    const std::string error = SetAuthorized(device, enable);
    if (error.empty()) {
      out << device.hardware_id << " (" << device.dir.filename().string()
          << "): " << (enable ? "Enabled" : "Disabled") << '\n';
    } else {
      ++failed;
      err << "devcon: " << error << '\n';
    }
  }
  if (matched == 0) {
    err << "devcon: no device matches " << pattern << '\n';
    return kExitNoMatch;
  }
  out << matched - failed << " device(s) " << (enable ? "enabled" : "disabled")
      << ".\n";
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace devcon
