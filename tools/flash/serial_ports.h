// The machine's serial ports, for --list, --serial and --all: each with the
// COM name that reaches it, its device node and, for a USB port, the ids,
// serial number and product string of its USB device.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dov::flash {

// The updater's devices carry this USB vendor and product id; other
// devices of the vendor (a debug probe) are not the updater's.
inline constexpr char kDeviceVendorId[] = "1fc9";
inline constexpr char kDeviceProductId[] = "0083";
// The hardware id the device console tool knows them by.
inline constexpr char kDeviceHardwareId[] = "USB\\VID_1FC9&PID_0083";

struct TSerialPort {
  std::optional<unsigned> ComNumber;  // the n of COMn that reaches it
  std::string DeviceNode;             // /dev/ttyACM0; COM3 on Windows
  bool Usb = false;
  std::string VendorId;   // four lower-case hex digits
  std::string ProductId;  // four lower-case hex digits
  std::string Serial;     // the USB serial number, may be empty
  std::string Product;    // the USB product string, may be empty

  // One of the updater's devices.
  bool Ours() const {
    return Usb && VendorId == kDeviceVendorId && ProductId == kDeviceProductId;
  }
  // The device console pattern that names this device alone (its instance
  // id), or "" when the device has no serial number to tell it apart.
  std::string InstancePattern() const;
  // The pattern that names this device for a reset: its instance id, or
  // the updater's hardware id when it has no serial number.
  std::string ResetPattern() const;
};

struct TPortList {
  std::vector<TSerialPort> Ports;  // by COM number, then by device node
  // Why the list may be incomplete or empty (a platform that gives no
  // answer), for the user; empty otherwise.
  std::string Note;
};

// Linux: the tty class of sysfs (DOV_SYSFS_ROOT, default /sys) with the
// DOS-device links; Windows: the Ports device class of SetupAPI.
TPortList ListSerialPorts();

// The device COMn reaches: on Linux the node its link (or the ttyS
// fallback) leads to, on Windows the name itself.
std::string ComDevicePath(unsigned number);

// The --list output; what the devices say is escaped.
std::string FormatPortList(const TPortList& list);
std::string FormatPortListJson(const TPortList& list);

// The one port whose USB serial number is `serial`, compared byte for byte.
// On none or several, or one whose serial number the device console tool
// cannot be given, returns nothing and sets `error` to a message that lists
// what was found.
std::optional<TSerialPort> FindBySerial(const TPortList& list,
                                        const std::string& serial,
                                        std::string& error);

}  // namespace dov::flash
