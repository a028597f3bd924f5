#include "usb_devices.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>

#include "sysfs_attribute.h"

namespace devcon {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> ReadId(const fs::path& file) {
  return UsbId(dov::tools::ReadAttribute(file));
}

fs::path DeviceList(const fs::path& sysfs_root) {
  return sysfs_root / "bus" / "usb" / "devices";
}

}  // namespace

std::optional<std::string> UsbId(std::string_view attribute) {
  if (attribute.size() != 4 ||
      !std::all_of(attribute.begin(), attribute.end(),
                   [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return std::nullopt;
  }
  std::string id(attribute);
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return std::toupper(c); });
  return id;
}

std::vector<UsbDevice> ListUsbDevices(const fs::path& sysfs_root) {
  const fs::path list = DeviceList(sysfs_root);
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
      const std::string hardware = "USB\\VID_" + *vendor + "&PID_" + *product;
      std::string serial = dov::tools::ReadAttribute(entry.path() / "serial");
      if (serial.empty()) serial = entry.path().filename().string();
      devices.push_back({entry.path(), hardware, hardware + "\\" + serial});
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
  const int fd = ::open(
      file.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  int error = 0;
  struct stat st {};
  if (fd < 0) {
    error = errno;
  } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "cannot write " + file.string() + ": not a regular file";
  } else {
    if (::write(fd, &value, 1) != 1) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
  }
  if (error == 0) return {};
  // A link is refused with ELOOP, a pipe without a reader with ENXIO, a
  // folder with EISDIR.
  if (error == ELOOP || error == ENXIO || error == EISDIR)
    return "cannot write " + file.string() + ": not a regular file";
  std::string message =
      "cannot write " + file.string() + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) {
    message += " \u2014 run as root or install the udev rule";
  }
  return message;
}

DeviceListLock::DeviceListLock(const fs::path& sysfs_root, int bound_ms) {
  const fs::path list = DeviceList(sysfs_root);
  fd_ = ::open(list.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    throw std::runtime_error("cannot read " + list.string() + ": " +
                             std::strerror(errno));
  }
  // The kernel has no lock wait with a bound: try again every few
  // milliseconds, so a devcon that hangs cannot hold every later one.
  constexpr int kRetryMs = 10;
  for (int waited = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0;
       waited += kRetryMs) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= bound_ms) {
      const int error = errno;
      ::close(fd_);
      throw std::runtime_error(error == EWOULDBLOCK
                                   ? "another devcon is still switching devices"
                                   : "cannot lock " + list.string() + ": " +
                                         std::strerror(error));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }
}

DeviceListLock::~DeviceListLock() { ::close(fd_); }

}  // namespace devcon
