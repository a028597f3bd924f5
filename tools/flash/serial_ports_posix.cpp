#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "cport/comm/posix/device_names.h"
#include "cport/fw/text.h"
#include "serial_ports.h"
#include "sysfs_attribute.h"

namespace dov::flash {
namespace fs = std::filesystem;
namespace {

constexpr unsigned kComNumbers = 255;

using tools::ReadAttribute;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return text;
}

fs::path SysfsRoot() {
  const char* root = std::getenv("DOV_SYSFS_ROOT");
  return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/sys");
}

// A tty the kernel made for hardware that is there: it has a device, and a
// legacy UART slot it reserves without one reports type 0.
bool RealPort(const fs::path& tty) {
  std::error_code error;
  if (!fs::exists(tty / "device", error)) return false;
  return !fs::exists(tty / "type", error) || ReadAttribute(tty / "type") != "0";
}

// Walks up from the tty's device to the USB device it belongs to.
void ReadUsb(const fs::path& tty, TSerialPort& port) {
  std::error_code error;
  fs::path dir = fs::canonical(tty / "device", error);
  if (error) return;
  for (; dir.has_relative_path(); dir = dir.parent_path()) {
    const std::string vendor = ReadAttribute(dir / "idVendor");
    const std::string product = ReadAttribute(dir / "idProduct");
    if (!vendor.empty() && !product.empty()) {
      port.Usb = true;
      port.VendorId = Lower(vendor);
      port.ProductId = Lower(product);
      port.Serial = ReadAttribute(dir / "serial");
      port.Product = ReadAttribute(dir / "product");
      return;
    }
  }
}

// Where a path leads, also when its last link points at a device node
// that is not there (yet): a link's target is taken as written.
fs::path Destination(fs::path path) {
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(path, error); ++hops) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return fs::weakly_canonical(path, error);
}

// Which COM number reaches each device node, by the port's own naming
// rules (the comN links, and the ttyS fallback).
std::map<fs::path, unsigned> ComNumbers() {
  std::map<fs::path, unsigned> numbers;
  for (unsigned n = kComNumbers; n >= 1; --n) {
    const auto path = cport::comm::posix::ResolveDeviceName(
        u"\\\\.\\COM" + cport::fw::IntToStr(n));
    if (!path) continue;
    numbers[Destination(*path)] = n;  // the lowest number wins
  }
  return numbers;
}

}  // namespace

std::string ComDevicePath(unsigned number) {
  const auto path = cport::comm::posix::ResolveDeviceName(
      u"\\\\.\\COM" + cport::fw::IntToStr(static_cast<int>(number)));
  return path ? Destination(*path).string() : "?";
}

TPortList ListSerialPorts() {
  TPortList list;
  const fs::path classDir = SysfsRoot() / "class" / "tty";
  std::error_code error;
  fs::directory_iterator it(classDir, error);
  if (error) {
    list.Note = "cannot read " + classDir.string() + ": " + error.message();
    return list;
  }
  const auto numbers = ComNumbers();
  for (const fs::directory_entry& entry : it) {
    if (!RealPort(entry.path())) continue;
    TSerialPort port;
    port.DeviceNode = "/dev/" + entry.path().filename().string();
    ReadUsb(entry.path(), port);
    const auto number = numbers.find(Destination(port.DeviceNode));
    if (number != numbers.end()) port.ComNumber = number->second;
    list.Ports.push_back(std::move(port));
  }
  std::sort(list.Ports.begin(), list.Ports.end(),
            [](const TSerialPort& a, const TSerialPort& b) {
              const unsigned na = a.ComNumber.value_or(kComNumbers + 1);
              const unsigned nb = b.ComNumber.value_or(kComNumbers + 1);
              return na != nb ? na < nb : a.DeviceNode < b.DeviceNode;
            });
  return list;
}

}  // namespace dov::flash
