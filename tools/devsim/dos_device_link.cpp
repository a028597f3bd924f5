#include "dos_device_link.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace devsim {
namespace fs = std::filesystem;
namespace {

bool IsStalePtyLink(const fs::path& path) {
  std::error_code error;
  if (!fs::is_symlink(path, error)) return false;
  const fs::path target = fs::read_symlink(path, error);
  return !error && target.string().starts_with("/dev/pts/") &&
         !fs::exists(target, error);
}

}  // namespace

fs::path DefaultDosDevicesDir() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0') {
    return fs::path(prefix) / "dosdevices";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "/") / ".wine" / "dosdevices";
}

DosDeviceLink::DosDeviceLink(const fs::path& dir, int port,
                             const fs::path& target, bool force)
    : path_(dir / ("com" + std::to_string(port))), target_(target) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) {
    throw std::runtime_error("cannot create " + dir.string() + ": " +
                             error.message());
  }
  if (fs::symlink_status(path_, error).type() != fs::file_type::not_found) {
    if (!force && !IsStalePtyLink(path_)) {
      throw std::runtime_error(path_.string() +
                               " already exists and is not ours; use --force "
                               "to replace it");
    }
    fs::remove(path_, error);
  }
  fs::create_symlink(target_, path_, error);
  if (error) {
    throw std::runtime_error("cannot link " + path_.string() + " to " +
                             target_.string() + ": " + error.message());
  }
}

DosDeviceLink::~DosDeviceLink() {
  // Leave the link alone if someone has replaced it meanwhile.
  std::error_code error;
  if (fs::read_symlink(path_, error) == target_ && !error) {
    fs::remove(path_, error);
  }
}

}  // namespace devsim
