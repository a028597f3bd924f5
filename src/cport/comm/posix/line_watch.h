// The input lines and line counters of a serial device: reading them, and
// a thread that sleeps in the kernel (TIOCMIWAIT) until one of CTS, DSR,
// RING or carrier detect changes.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace cport::comm::posix {

// The kernel's counts of line errors on a device.
struct LineCounters {
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
};

// False where the device keeps no counters (a pseudo-terminal, for one).
bool ReadLineCounters(int fd, LineCounters* counters);
// The CE_* bits for the errors counted between two readings.
std::uint32_t ErrorsBetween(const LineCounters& before,
                            const LineCounters& after);

// The MS_* bits of the input lines: 0 or an errno, ENOTTY where the device
// has no modem lines.
int ReadModemLines(int fd, std::uint32_t* status);

class LineWatch {
 public:
  LineWatch() = default;
  ~LineWatch() { Stop(); }
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

  bool Running() const { return thread_.joinable(); }
  // Calls `changed` on the watch thread with the EV_* bits of the lines
  // that changed, until Stop or until the device goes away.
  void Start(int fd, std::function<void(std::uint32_t)> changed);
  // Wakes the thread from its kernel wait and joins it.
  void Stop();

 private:
  void Run(int fd);

  std::function<void(std::uint32_t)> changed_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool stop_ = false;
  bool done_ = false;
  pthread_t native_{};
  std::thread thread_;
};

}  // namespace cport::comm::posix
