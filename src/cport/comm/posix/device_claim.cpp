#include "cport/comm/posix/device_claim.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace cport::comm::posix {
namespace {

struct Holders {
  int count = 0;
  bool exclusive = false;
};

struct ClaimTable {
  std::mutex lock;
  std::map<dev_t, Holders> devices;
};

ClaimTable& Table() {
  static ClaimTable table;
  return table;
}

}  // namespace

int DeviceClaim::Acquire(int fd, bool exclusive) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  ClaimTable& table = Table();
  std::lock_guard guard(table.lock);
  Holders& holders = table.devices[st.st_rdev];
  auto refuse = [&](int error) {
    if (holders.count == 0) table.devices.erase(st.st_rdev);
    return error;
  };
  if (holders.exclusive || (exclusive && holders.count > 0)) {
    return refuse(EBUSY);
  }
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
  }
  if (exclusive) ::ioctl(fd, TIOCEXCL);
  holders.count++;
  holders.exclusive = exclusive;
  fd_ = fd;
  device_ = st.st_rdev;
  exclusive_ = exclusive;
  return 0;
}

void DeviceClaim::Release() {
  if (fd_ < 0) return;
  // The exclusive mode belongs to the terminal, not to the descriptor: left
  // set, it would refuse the next open of the device.
  if (exclusive_) ::ioctl(fd_, TIOCNXCL);
  ::flock(fd_, LOCK_UN);
  ClaimTable& table = Table();
  std::lock_guard guard(table.lock);
  auto it = table.devices.find(device_);
  if (it != table.devices.end() && --it->second.count == 0) {
    table.devices.erase(it);
  }
  fd_ = -1;
}

}  // namespace cport::comm::posix
