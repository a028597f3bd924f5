#include "dos_device_link.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace devsim {
namespace fs = std::filesystem;
namespace {

// The simulator that made the link, from the file beside it.
std::optional<pid_t> Owner(const fs::path& pid_file) {
  std::ifstream in(pid_file);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

bool IsAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// A link into /dev/pts left by a simulator that is gone: one whose
// simulator no longer runs, or, without a process id beside it, one whose
// terminal is gone too. The terminal's number may already serve someone
// else's session, so the link is no longer anyone's.
bool IsStalePtyLink(const fs::path& path, const fs::path& pid_file) {
  std::error_code error;
  if (!fs::is_symlink(path, error)) return false;
  const fs::path target = fs::read_symlink(path, error);
  if (error || !target.string().starts_with("/dev/pts/")) return false;
  if (const auto owner = Owner(pid_file)) return !IsAlive(*owner);
  return !fs::exists(target, error);
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
    : path_(dir / ("com" + std::to_string(port))),
      pid_file_(dir / ("com" + std::to_string(port) + ".pid")),
      target_(target) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) {
    throw std::runtime_error("cannot create " + dir.string() + ": " +
                             error.message());
  }
  const fs::file_type existing = fs::symlink_status(path_, error).type();
  if (existing != fs::file_type::not_found) {
    // Only a link is ever replaced: a file standing at comN may be someone's
    // data, and no option removes it.
    if (existing != fs::file_type::symlink) {
      throw std::runtime_error(path_.string() +
                               " is not a link; it is left as it is");
    }
    if (!force && !IsStalePtyLink(path_, pid_file_)) {
      const auto owner = Owner(pid_file_);
      throw std::runtime_error(path_.string() +
                               (owner ? " belongs to dov-devsim " +
                                            std::to_string(*owner) +
                                            ", which is still running"
                                      : " already exists and is not ours") +
                               "; use --force to replace it");
    }
    fs::remove(path_, error);
  }
  fs::remove(pid_file_, error);
  std::ofstream(pid_file_) << ::getpid() << '\n';
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
    fs::remove(pid_file_, error);
  }
}

}  // namespace devsim
