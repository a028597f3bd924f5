#include "private_dos_devices.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "cport/comm/posix/terminal_class.h"

namespace dov::flash {

namespace fs = std::filesystem;

TPrivateDosDevices::TPrivateDosDevices(const fs::path& device, unsigned port) {
  std::error_code error;
  // The link is read from its own directory: a relative target would point
  // elsewhere.
  const fs::path target = fs::absolute(device, error);
  if (error) {
    throw std::runtime_error("cannot use " + device.string() + ": " +
                             error.message());
  }
  struct stat node {};
  if (::stat(target.c_str(), &node) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot use " + device.string());
  }
  if (!S_ISCHR(node.st_mode) ||
      !cport::comm::posix::IsTerminalDevice(node.st_rdev))
    throw std::runtime_error(device.string() + " is not a serial port");
  std::string pattern =
      (fs::temp_directory_path() / "dov-flash-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot make a DOS-device directory");
  }
  prefix_ = pattern;
  link_ = prefix_ / "dosdevices" / ("com" + std::to_string(port));
  fs::create_directory(prefix_ / "dosdevices", error);
  if (!error) fs::create_symlink(target, link_, error);
  if (error) {
    const std::string message =
        "cannot link " + link_.string() + ": " + error.message();
    fs::remove_all(prefix_, error);
    throw std::runtime_error(message);
  }
  if (const char* previous = std::getenv("WINEPREFIX")) previous_ = previous;
  ::setenv("WINEPREFIX", prefix_.c_str(), 1);
}

TPrivateDosDevices::~TPrivateDosDevices() {
  if (previous_) {
    ::setenv("WINEPREFIX", previous_->c_str(), 1);
  } else {
    ::unsetenv("WINEPREFIX");
  }
  std::error_code error;
  fs::remove_all(prefix_, error);
}

}  // namespace dov::flash
