#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cport/comm/posix/terminal_class.h"
#include "cport/comm/posix/unique_fd.h"
#include "updater/trace_file.h"

namespace dov {
namespace {

using cport::comm::posix::UniqueFd;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

constexpr char kLinkRefused[] =
    "it is a symbolic link, which is not followed; name the file itself";

// Why a file of this kind is no place for a trace, or "" when it is one.
std::string Refusal(const struct stat& status) {
  if (S_ISLNK(status.st_mode)) return kLinkRefused;
  if (S_ISBLK(status.st_mode)) return "it is a block device";
  if (S_ISCHR(status.st_mode) &&
      cport::comm::posix::IsTerminalDevice(status.st_rdev)) {
    return "it is a serial port or terminal device";
  }
  return {};
}

std::string Avoided(const struct stat& file,
                    std::span<const std::string> avoid) {
  for (const std::string& other : avoid) {
    struct stat status {};
    if (::stat(other.c_str(), &status) == 0 && SameFile(file, status)) {
      return "it is " + other + ", which this run reads";
    }
  }
  return {};
}

}  // namespace

int OpenTraceFile(const std::string& path, std::span<const std::string> avoid,
                  std::string& error) {
  const auto refuse = [&](const std::string& why) {
    error = "cannot write " + path + ": " + why;
    return -1;
  };
  // Looked at before the open: opening a terminal or a device has effects
  // of its own.
  struct stat before {};
  if (::lstat(path.c_str(), &before) == 0) {
    if (std::string why = Refusal(before); !why.empty()) return refuse(why);
  }
  // Not emptied by the open: a file it must not be is refused untouched.
  UniqueFd fd(::open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
      0666));
  if (!fd.valid()) {
    if (errno == ENXIO) return refuse("it is a FIFO that no process reads");
    if (errno == ELOOP) return refuse(kLinkRefused);
    return refuse(std::strerror(errno));
  }
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0) return refuse(std::strerror(errno));
  if (std::string why = Refusal(opened); !why.empty()) return refuse(why);
  if (std::string why = Avoided(opened, avoid); !why.empty()) {
    return refuse(why);
  }
  if (S_ISREG(opened.st_mode) && ::ftruncate(fd.get(), 0) != 0) {
    return refuse(std::strerror(errno));
  }
  return fd.Release();
}

}  // namespace dov
