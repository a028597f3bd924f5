#include "cport/comm/posix/line_watch.h"

#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "cport/comm/comm_api.h"

namespace cport::comm::posix {
namespace {

// Interrupts a thread's kernel wait. Its handler does nothing; it is
// installed without SA_RESTART so the wait returns EINTR.
constexpr int kWakeSignal = SIGURG;

void Nothing(int) {}

void InstallWakeHandler() {
  static const bool installed = [] {
    struct sigaction current {};
    ::sigaction(kWakeSignal, nullptr, &current);
    if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) {
      struct sigaction action {};
      action.sa_handler = Nothing;
      sigemptyset(&action.sa_mask);
      ::sigaction(kWakeSignal, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

std::uint32_t LineBits(int tiocm) {
  std::uint32_t status = 0;
  if (tiocm & TIOCM_CTS) status |= kMsCtsOn;
  if (tiocm & TIOCM_DSR) status |= kMsDsrOn;
  if (tiocm & TIOCM_RNG) status |= kMsRingOn;
  if (tiocm & TIOCM_CAR) status |= kMsRlsdOn;
  return status;
}

std::uint32_t ChangeEvents(std::uint32_t before, std::uint32_t after) {
  const std::uint32_t changed = before ^ after;
  std::uint32_t events = 0;
  if (changed & kMsCtsOn) events |= kEvCts;
  if (changed & kMsDsrOn) events |= kEvDsr;
  if (changed & kMsRingOn) events |= kEvRing;
  if (changed & kMsRlsdOn) events |= kEvRlsd;
  return events;
}

}  // namespace

bool ReadLineCounters(int fd, LineCounters* counters) {
  serial_icounter_struct icount{};
  if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
  counters->frame = icount.frame;
  counters->overrun = icount.overrun;
  counters->parity = icount.parity;
  counters->brk = icount.brk;
  counters->bufferOverrun = icount.buf_overrun;
  return true;
}

std::uint32_t ErrorsBetween(const LineCounters& before,
                            const LineCounters& after) {
  std::uint32_t errors = 0;
  if (after.frame != before.frame) errors |= kCeFrame;
  if (after.overrun != before.overrun) errors |= kCeOverrun;
  if (after.parity != before.parity) errors |= kCeRxParity;
  if (after.brk != before.brk) errors |= kCeBreak;
  if (after.bufferOverrun != before.bufferOverrun) errors |= kCeRxOver;
  return errors;
}

int ReadModemLines(int fd, std::uint32_t* status) {
  int tiocm = 0;
  if (::ioctl(fd, TIOCMGET, &tiocm) != 0) return errno;
  *status = LineBits(tiocm);
  return 0;
}

void LineWatch::Start(int fd, std::function<void(std::uint32_t)> changed) {
  if (Running()) return;
  InstallWakeHandler();
  changed_ = std::move(changed);
  stop_ = false;
  done_ = false;
  std::unique_lock lock(mutex_);
  thread_ = std::thread([this, fd] { Run(fd); });
  native_ = thread_.native_handle();
}

void LineWatch::Stop() {
  if (!Running()) return;
  std::unique_lock lock(mutex_);
  stop_ = true;
  // A signal that arrives just before the thread enters its wait is lost,
  // so repeat it until the thread has seen the stop.
  while (!done_) {
    ::pthread_kill(native_, kWakeSignal);
    ended_.wait_for(lock, std::chrono::milliseconds(5));
  }
  lock.unlock();
  thread_.join();
}

void LineWatch::Run(int fd) {
  std::uint32_t lines = 0;
  bool ok = ReadModemLines(fd, &lines) == 0;
  while (ok) {
    {
      std::lock_guard guard(mutex_);
      if (stop_) break;
    }
    if (::ioctl(fd, TIOCMIWAIT,
                TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR) != 0 &&
        errno != EINTR) {
      break;  // the device is gone or cannot wait
    }
    std::uint32_t now = 0;
    if (ReadModemLines(fd, &now) != 0) break;
    if (std::uint32_t events = ChangeEvents(lines, now)) changed_(events);
    lines = now;
  }
  std::lock_guard guard(mutex_);
  done_ = true;
  ended_.notify_all();
}

}  // namespace cport::comm::posix
