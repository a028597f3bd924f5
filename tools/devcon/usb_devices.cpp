#include "usb_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace devcon {
namespace fs = std::filesystem;
namespace {

// A sysfs id attribute: four hex digits and a newline.
std::optional<std::string> ReadId(const fs::path& file) {
  std::ifstream in(file);
  std::string id;
  if (!(in >> id) || id.size() != 4 ||
      !std::all_of(id.begin(), id.end(),
                   [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return std::nullopt;
  }
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return std::toupper(c); });
  return id;
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices(const fs::path& sysfs_root) {
  const fs::path list = sysfs_root / "bus" / "usb" / "devices";
  std::error_code error;
  fs::directory_iterator it(list, error);
  if (error) {
    throw std::runtime_error("cannot read " + list.string() + ": " +
                             error.message());
  }
  std::vector<UsbDevice> devices;
  for (const fs::directory_entry& entry : it) {
    // Interfaces ("1-1:1.0") have no vendor and product of their own.
    const auto vendor = ReadId(entry.path() / "idVendor");
    const auto product = ReadId(entry.path() / "idProduct");
    if (vendor && product) {
      devices.push_back(
          {entry.path(), "USB\\VID_" + *vendor + "&PID_" + *product});
    }
  }
  std::sort(
      devices.begin(), devices.end(),
      [](const UsbDevice& a, const UsbDevice& b) { return a.dir < b.dir; });
  return devices;
}

std::string SetAuthorized(const UsbDevice& device, bool authorized) {
  const fs::path file = device.dir / "authorized";
  const char value = authorized ? '1' : '0';
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  int error = 0;
  if (fd < 0) {
    error = errno;
  } else {
    if (::write(fd, &value, 1) != 1) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
  }
  if (error == 0) return {};
  std::string message =
      "cannot write " + file.string() + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) {
    message += " \u2014 run as root or install the udev rule";
  }
  return message;
}

}  // namespace devcon
