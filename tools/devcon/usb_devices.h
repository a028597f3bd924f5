// The machine's USB devices as the kernel lists them under
// <sysfs root>/bus/usb/devices, and their authorisation switch: a device
// whose "authorized" attribute is 0 is detached from its drivers (its serial
// port disappears); writing 1 brings it back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devcon {

struct UsbDevice {
  std::filesystem::path dir;  // <root>/bus/usb/devices/<name>
  std::string hardware_id;    // USB\VID_XXXX&PID_YYYY
  // The device itself: USB\VID_XXXX&PID_YYYY\<serial number>, or the
  // device's name in the tree (1-1.4) when it has no serial number.
  std::string instance_id;
};

// A USB id from its sysfs attribute's first line: four hex digits, given
// back in upper case; nothing for anything else.
std::optional<std::string> UsbId(std::string_view attribute);

// Devices (not interfaces) in name order. Throws std::runtime_error when the
// device list cannot be read.
std::vector<UsbDevice> ListUsbDevices(const std::filesystem::path& sysfs_root);

// Writes "1" or "0" to the device's "authorized" attribute. Only a regular
// file is written: a link is not followed and nothing blocks on opening it.
// Returns an empty string on success, otherwise a message for the user.
std::string SetAuthorized(const UsbDevice& device, bool authorized);

// Holds the lock on the machine's device list for its lifetime: one change
// of devices at a time, so an enable that comes while a disable is still
// switching waits for it, and the other way round, and the devices end as
// the later command asked.
class DeviceListLock {
 public:
  // Waits up to `bound_ms` for the lock. Throws std::runtime_error when the
  // list cannot be opened or the lock is not had in time.
  DeviceListLock(const std::filesystem::path& sysfs_root, int bound_ms);
  ~DeviceListLock();
  DeviceListLock(const DeviceListLock&) = delete;
  DeviceListLock& operator=(const DeviceListLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace devcon
