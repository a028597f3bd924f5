#include "cport/comm/posix/terminal_class.h"

#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace cport::comm::posix {
namespace {

// /dev/tty, /dev/console and /dev/ptmx.
constexpr unsigned kAliasMajor = 5;

// A line of /proc/tty/drivers: name, node, major, minors ("0" or
// "0-1048575"), type. "system" types are the aliases; "pty:master" the far
// ends of pseudo-terminals.
bool ListedPortDriver(const std::string& line, unsigned major, unsigned minor) {
  std::istringstream fields(line);
  std::string name, node, minors, type;
  unsigned listed = 0;
  if (!(fields >> name >> node >> listed >> minors >> type)) return false;
  if (listed != major || type.starts_with("system") || type == "pty:master")
    return false;
  const auto dash = minors.find('-');
  try {
    const unsigned first = std::stoul(minors.substr(0, dash));
    const unsigned last =
        dash == std::string::npos ? first : std::stoul(minors.substr(dash + 1));
    return minor >= first && minor <= last;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool DriversListPort(std::istream& drivers, unsigned major, unsigned minor) {
  for (std::string line; std::getline(drivers, line);) {
    if (ListedPortDriver(line, major, minor)) return true;
  }
  return false;
}

bool IsTerminalDevice(dev_t device) {
  const unsigned major = ::major(device);
  const unsigned minor = ::minor(device);
  if (major == kAliasMajor) return false;
  const std::string numbers =
      std::to_string(major) + ":" + std::to_string(minor);
  std::error_code error;
  const auto subsystem = std::filesystem::read_symlink(
      "/sys/dev/char/" + numbers + "/subsystem", error);
  if (!error) return subsystem.filename() == "tty";
  std::ifstream drivers("/proc/tty/drivers");
  return DriversListPort(drivers, major, minor);
}

}  // namespace cport::comm::posix
