// A process's claim on a terminal device. An exclusive claim keeps every
// other opener out: openers in this process through a table of claimed
// devices, other processes through an advisory lock (which holds against
// root too) and the terminal's exclusive mode (which holds against programs
// that take no lock).
#pragma once

#include <sys/types.h>

namespace cport::comm::posix {

class DeviceClaim {
 public:
  DeviceClaim() = default;
  ~DeviceClaim() { Release(); }
  DeviceClaim(const DeviceClaim&) = delete;
  DeviceClaim& operator=(const DeviceClaim&) = delete;

  // Claims the device open on `fd`: 0, or EBUSY when another opener holds
  // it (or `exclusive` is asked and anyone holds it), or another errno.
  int Acquire(int fd, bool exclusive);
  // Gives the claim up; the descriptor stays open. Idempotent.
  void Release();

 private:
  int fd_ = -1;
  dev_t device_ = 0;
  bool exclusive_ = false;
};

}  // namespace cport::comm::posix
