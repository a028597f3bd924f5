#include "cport/comm/posix/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cport/comm/posix/terminal.h"
#include "cport/comm/posix/terminal_class.h"

namespace cport::comm::posix {

struct SerialDevice::Private {};

namespace {

constexpr std::uint32_t kAllEvents = kEvRxChar | kEvRxFlag | kEvTxEmpty |
                                     kEvCts | kEvDsr | kEvRlsd | kEvBreak |
                                     kEvErr | kEvRing | kEvPErr | kEvRx80Full;
constexpr std::uint32_t kLineEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
constexpr std::uint32_t kPurgeAll =
    kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;
constexpr std::uint32_t kMaxQueue = 16u << 20;
// How long input stays lent to threads that watch it after a watch ended.
constexpr long kInputLendNs = 5'000'000;

std::uint32_t Errno() { return static_cast<std::uint32_t>(errno); }

// Opens only a character device that is a terminal, and opens nothing
// before its numbers say so. Anything else is "not found": the name space
// holds serial ports and nothing else.
int OpenTerminal(const std::string& path, std::uint32_t access,
                 std::uint32_t* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *error = Errno();
    return -1;
  }
  if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(st.st_rdev)) {
    *error = kErrorFileNotFound;
    return -1;
  }
  int mode = O_RDWR;
  if ((access & (kGenericRead | kGenericWrite)) == kGenericRead)
    mode = O_RDONLY;
  if ((access & (kGenericRead | kGenericWrite)) == kGenericWrite)
    mode = O_WRONLY;
  const int fd = ::open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = Errno();
    return -1;
  }
  // The same device that was checked, not one swapped in since.
  const dev_t checked = st.st_rdev;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != checked ||
      !::isatty(fd)) {
    ::close(fd);
    *error = kErrorFileNotFound;
    return -1;
  }
  return fd;
}

// Bits on the line per character, for how long the driver needs to send.
unsigned BitsPerChar(const Dcb& dcb) {
  return 1u + dcb.ByteSize + (dcb.Parity != kNoParity ? 1u : 0u) +
         (dcb.StopBits == kOneStopBit ? 1u : 2u);
}

// Hands the driver the bytes from `sent` on until it has taken them all or
// has no room; returns 0, or the error that ended the transfer (EIO for a
// write of nothing).
int WriteToDriver(int fd, const std::uint8_t* data, std::uint32_t size,
                  std::uint32_t& sent) {
  while (sent < size) {
    const ssize_t n = ::write(fd, data + sent, size - sent);
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    return n < 0 ? errno : EIO;
  }
  return 0;
}

}  // namespace

std::shared_ptr<SerialDevice> SerialDevice::Open(const std::string& path,
                                                 std::uint32_t access,
                                                 bool exclusive,
                                                 std::uint32_t* error) {
  UniqueFd fd(OpenTerminal(path, access, error));
  if (!fd.valid()) return nullptr;
  UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  UniqueFd handBack(
      ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  UniqueFd poll(::epoll_create1(EPOLL_CLOEXEC));
  auto watch = [&](const UniqueFd& what) {
    epoll_event interest{};
    interest.events = EPOLLIN;
    interest.data.fd = what.get();
    return ::epoll_ctl(poll.get(), EPOLL_CTL_ADD, what.get(), &interest) == 0;
  };
  if (!wake.valid() || !handBack.valid() || !poll.valid() || !watch(wake) ||
      !watch(handBack)) {
    *error = Errno();
    return nullptr;
  }
  auto device =
      std::make_shared<SerialDevice>(Private{}, std::move(fd), std::move(wake),
                                     std::move(handBack), std::move(poll));
  if (int e = device->claim_.Acquire(device->fd_.get(), exclusive)) {
    *error = static_cast<std::uint32_t>(e);
    return nullptr;
  }
  if (int e = terminal::MakeRaw(device->fd_.get())) {
    *error = static_cast<std::uint32_t>(e);
    return nullptr;
  }
  device->thread_ = std::thread([raw = device.get()] { raw->Run(); });
  return device;
}

SerialDevice::SerialDevice(Private, UniqueFd fd, UniqueFd wake,
                           UniqueFd handBack, UniqueFd poll)
    : KernelObject(ObjectKind::kDevice),
      fd_(std::move(fd)),
      wake_(std::move(wake)),
      handBack_(std::move(handBack)),
      poll_(std::move(poll)) {
  hasCounters_ = ReadLineCounters(fd_.get(), &counters_);
  eventCounters_ = counters_;
  std::uint32_t lines = 0;
  hasModemLines_ = ReadModemLines(fd_.get(), &lines) == 0;
  queuesOutput_ = !terminal::IsPseudoTerminal(fd_.get());
  dcb_.BaudRate = 9600;
  dcb_.ByteSize = 8;
  dcb_.Flags = kDcbBinary;
}

SerialDevice::~SerialDevice() {
  OnClose();
  claim_.Release();
}

void SerialDevice::OnClose() {
  {
    Lock lock(*this);
    if (closed_) return;
    closed_ = true;
    stopping_ = true;
    AbortAll(kErrorOperationAborted);
  }
  Wake();
  lineWatch_.Stop();
  if (thread_.joinable()) thread_.join();
  claim_.Release();
}

SerialDevice::Lock::Lock(SerialDevice& device)
    : device_(device), held_(device.mutex_) {}

SerialDevice::Lock::~Lock() {
  if (held_.owns_lock()) unlock();
}

void SerialDevice::Lock::unlock() {
  // Two lists take turns, so that neither allocates once it has grown.
  thread_local PendingSignals tSignals;
  tSignals.swap(device_.signals_);
  if (tSignals.empty()) {
    held_.unlock();
    return;
  }
  ++device_.signalling_;
  held_.unlock();
  // The events are set before the count drops, and their sleepers woken
  // after: a woken thread that issues its next operation at once finds the
  // count down and does not wait for it.
  Wakeups wakeups;
  for (const auto& event : tSignals) event->Set(wakeups);
  tSignals.clear();
  if (--device_.signalling_ == 0) device_.signalling_.notify_all();
}

void SerialDevice::Lock::SignalNow() {
  for (const auto& event : device_.signals_) event->Set();
  device_.signals_.clear();
}

// ---------------------------------------------------------------------------
// Settings.

std::uint32_t SerialDevice::CheckOpen() const {
  if (closed_) return kErrorInvalidHandle;
  return static_cast<std::uint32_t>(dead_);
}

std::uint32_t SerialDevice::Setup(std::uint32_t inQueue,
                                  std::uint32_t outQueue) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  if (inQueue > kMaxQueue || outQueue > kMaxQueue)
    return kErrorInvalidParameter;
  // Data already held is kept even when the new size is smaller: input stops
  // being taken from the driver until the queue has drained.
  if (inQueue != 0) inQueue_ = inQueue;
  if (outQueue != 0) outQueue_ = outQueue;
  UpdateInputHold();
  Wake();
  return 0;
}

std::uint32_t SerialDevice::SetState(const Dcb& dcb) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  if (int error = terminal::CheckDcb(dcb))
    return static_cast<std::uint32_t>(error);
  if (int error = terminal::ApplyDcb(fd_.get(), dcb)) {
    return static_cast<std::uint32_t>(error);
  }
  // DTR and RTS levels. A device without modem lines (a pseudo-terminal)
  // has no level to lose, so only a real failure counts.
  const std::uint32_t dtr =
      (dcb.Flags & kDcbDtrControlMask) >> kDcbDtrControlShift;
  const std::uint32_t rts =
      (dcb.Flags & kDcbRtsControlMask) >> kDcbRtsControlShift;
  int set = 0, clear = 0;
  (dtr == kDtrControlEnable ? set : clear) |= TIOCM_DTR;
  (rts == kRtsControlDisable ? clear : set) |= TIOCM_RTS;
  if (hasModemLines_ && (::ioctl(fd_.get(), TIOCMBIS, &set) != 0 ||
                         ::ioctl(fd_.get(), TIOCMBIC, &clear) != 0)) {
    return Errno();
  }
  dcb_ = dcb;
  InputOptions options;
  options.checkParity = (dcb.Flags & kDcbParity) != 0;
  options.replaceErrors = (dcb.Flags & kDcbErrorChar) != 0;
  options.errorChar = static_cast<std::uint8_t>(dcb.ErrorChar);
  options.discardNull = (dcb.Flags & kDcbNull) != 0;
  options.eventChar = static_cast<std::uint8_t>(dcb.EvtChar);
  filter_.SetOptions(options);
  UpdateInputHold();
  Wake();
  return 0;
}

std::uint32_t SerialDevice::SetTimeouts(const CommTimeouts& timeouts) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  timeouts_ = timeouts;
  return 0;
}

std::uint32_t SerialDevice::SetMask(std::uint32_t mask) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  if ((mask & ~kAllEvents) != 0) return kErrorInvalidParameter;
  mask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->mask = 0;
    wait_->done.Finish(0, 0);
    wait_.reset();
    finished_.notify_all();
  }
  if ((mask & kLineEvents) != 0 && hasModemLines_ && !lineWatch_.Running()) {
    lineWatch_.Start(fd_.get(),
                     [this](std::uint32_t events) { OnLineChange(events); });
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Overlapped operations.

template <class Issue>
std::uint32_t SerialDevice::Overlap(Overlapped* ov, std::uint32_t* count,
                                    Issue issue) {
  if (count != nullptr) *count = 0;
  if (ov != nullptr) {
    Lock lock(*this);
    if (closed_) return kErrorInvalidHandle;
    std::shared_ptr<Event> event;
    if (ov->hEvent != 0) {
      event = LookupAs<Event>(ov->hEvent);
      if (!event) return kErrorInvalidHandle;
    }
    // The record may be one whose last operation was seen ended before its
    // event was set: that set must land before this operation clears it.
    for (int n; (n = signalling_.load()) != 0;) signalling_.wait(n);
    std::uint32_t status =
        issue(Completion(ov, std::move(event), &signals_), lock);
    // Finished at once: the record holds the outcome.
    if (status == 0) {
      status = static_cast<std::uint32_t>(ov->Internal);
      if (count != nullptr)
        *count = static_cast<std::uint32_t>(ov->InternalHigh);
    }
    return status;
  }
  // A call without a record waits for its own.
  Overlapped own{};
  Lock lock(*this);
  if (closed_) return kErrorInvalidHandle;
  std::uint32_t status = issue(Completion(&own, nullptr, &signals_), lock);
  if (status == kErrorIoPending || status == 0) {
    lock.SignalNow();
    ReclaimInput();
    finished_.wait(lock.Held(), [&] { return own.Internal != kStatusPending; });
    status = static_cast<std::uint32_t>(own.Internal);
  }
  if (count != nullptr) *count = static_cast<std::uint32_t>(own.InternalHigh);
  return status;
}

std::uint32_t SerialDevice::Read(void* buffer, std::uint32_t count,
                                 std::uint32_t* read, Overlapped* ov) {
  return Overlap(ov, read, [&](Completion done, Lock&) -> std::uint32_t {
    const Clock::time_point now = Clock::now();
    // What the driver holds more is only needed when the queue falls short.
    if (!dead_ && InputCount() < count) PumpInput(now);
    // What is already held is delivered even after a hang-up.
    if (dead_ && InputCount() == 0) return static_cast<std::uint32_t>(dead_);
    done.Start();
    reads_.emplace_back(done, static_cast<std::uint8_t*>(buffer), count,
                        ReadPolicy::From(timeouts_, count));
    const bool first = reads_.size() == 1;
    ServeReads(now);
    if (first && !reads_.empty() && dead_) FinishRead(0);
    if (first && reads_.empty()) return 0;
    reads_.back().done.WatchInputOf(weak_from_this());
    Wake();
    return kErrorIoPending;
  });
}

std::uint32_t SerialDevice::Write(const void* buffer, std::uint32_t count,
                                  std::uint32_t* written, Overlapped* ov) {
  return Overlap(
      ov, written, [&](Completion done, Lock& lock) -> std::uint32_t {
        if (dead_) return static_cast<std::uint32_t>(dead_);
        const CommTimeouts& t = timeouts_;
        std::optional<std::uint64_t> total;
        if (t.WriteTotalTimeoutMultiplier != 0 ||
            t.WriteTotalTimeoutConstant != 0) {
          total = std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                  t.WriteTotalTimeoutConstant;
        }
        done.Start();
        writes_.emplace_back(done, static_cast<const std::uint8_t*>(buffer),
                             count, total);
        const bool first = writes_.size() == 1 && !txChar_;
        if (!first) {
          Wake();
          return kErrorIoPending;
        }
        // Only a write with a time limit needs the clock.
        writes_.front().Activate(total ? Clock::now() : Clock::time_point{});
        SendFirst(lock);
        return done.Ended() ? 0 : kErrorIoPending;
      });
}

std::uint32_t SerialDevice::WaitEvent(std::uint32_t* mask, Overlapped* ov) {
  return Overlap(ov, nullptr, [&](Completion done, Lock&) -> std::uint32_t {
    if (dead_) return static_cast<std::uint32_t>(dead_);
    if (mask_ == 0 || wait_ || mask == nullptr) return kErrorInvalidParameter;
    done.Start();
    if (history_ != 0) {
      *mask = history_;
      history_ = 0;
      done.Finish(0, 0);
      return 0;
    }
    done.WatchInputOf(weak_from_this());
    wait_.emplace(PendingWait{done, mask});
    return kErrorIoPending;
  });
}

std::uint32_t SerialDevice::Result(Overlapped* ov, std::uint32_t* transferred,
                                   bool wait) {
  Lock lock(*this);
  if (wait) {
    lock.SignalNow();
    if (ov->Internal == kStatusPending) ReclaimInput();
    finished_.wait(lock.Held(), [&] { return ov->Internal != kStatusPending; });
  }
  if (ov->Internal == kStatusPending) return kErrorIoIncomplete;
  if (transferred != nullptr) {
    *transferred = static_cast<std::uint32_t>(ov->InternalHigh);
  }
  return static_cast<std::uint32_t>(ov->Internal);
}

// ---------------------------------------------------------------------------
// Status and line control.

std::uint32_t SerialDevice::ClearError(std::uint32_t* errors, ComStat* stat) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  // Input still in the driver is taken first (it may carry line errors);
  // most often there is none, and asking costs less than a read.
  int held = DriverInput();
  if (held > 0) {
    PumpInput(Clock::now());
    held = DriverInput();
  }
  if (errors != nullptr) *errors = LineErrors();
  if (stat == nullptr) return 0;
  *stat = ComStat{};
  const int queued = DriverOutput();
  std::uint64_t pending = txChar_ ? 1 : 0;
  for (const PendingWrite& w : writes_) pending += w.size - w.sent;
  stat->cbInQue = static_cast<std::uint32_t>(InputCount() + held);
  stat->cbOutQue = static_cast<std::uint32_t>(pending + queued);
  if (outputStopped_) stat->Flags |= kComStatXoffHold;
  if (txChar_) stat->Flags |= kComStatTxim;
  std::uint32_t lines = 0;
  if ((dcb_.Flags & kDcbOutxCtsFlow) != 0 && hasModemLines_ &&
      ReadModemLines(fd_.get(), &lines) == 0 && (lines & kMsCtsOn) == 0 &&
      stat->cbOutQue > 0) {
    stat->Flags |= kComStatCtsHold;
  }
  return 0;
}

std::uint32_t SerialDevice::ModemStatus(std::uint32_t* status) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  *status = 0;
  // A device without modem lines has every line off.
  if (!hasModemLines_) return 0;
  return static_cast<std::uint32_t>(ReadModemLines(fd_.get(), status));
}

std::uint32_t SerialDevice::Escape(std::uint32_t function) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  auto lines = [&](unsigned long request, int bits) -> std::uint32_t {
    return ::ioctl(fd_.get(), request, &bits) == 0 ? 0 : Errno();
  };
  switch (function) {
    case kSetXoff:
    case kSetXon: {
      const bool on = function == kSetXon;
      if (int error = terminal::SetOutputFlow(fd_.get(), on)) {
        return static_cast<std::uint32_t>(error);
      }
      outputStopped_ = !on;
      Wake();
      return 0;
    }
    case kSetRts:
      return lines(TIOCMBIS, TIOCM_RTS);
    case kClrRts:
      return lines(TIOCMBIC, TIOCM_RTS);
    case kSetDtr:
      return lines(TIOCMBIS, TIOCM_DTR);
    case kClrDtr:
      return lines(TIOCMBIC, TIOCM_DTR);
    case kSetBreak:
      return ::ioctl(fd_.get(), TIOCSBRK) == 0 ? 0 : Errno();
    case kClrBreak:
      return ::ioctl(fd_.get(), TIOCCBRK) == 0 ? 0 : Errno();
    default:
      return kErrorInvalidParameter;
  }
}

std::uint32_t SerialDevice::TransmitChar(std::uint8_t ch) {
  Lock lock(*this);
  if (std::uint32_t error = CheckOpen()) return error;
  // One character may wait for room at a time, as on Windows.
  if (txChar_) return kErrorAccessDenied;
  const ssize_t n = ::write(fd_.get(), &ch, 1);
  if (n == 1) return 0;
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    const int error = errno;
    MarkDead(error);
    return static_cast<std::uint32_t>(error);
  }
  txChar_ = ch;
  Wake();
  return 0;
}

std::uint32_t SerialDevice::Purge(std::uint32_t flags) {
  Lock lock(*this);
  if (closed_) return kErrorInvalidHandle;
  if ((flags & ~kPurgeAll) != 0) return kErrorInvalidParameter;
  if (flags & kPurgeTxAbort) {
    AbortWrites(kErrorOperationAborted);
  }
  if (flags & kPurgeRxAbort) {
    while (!reads_.empty()) FinishRead(kErrorOperationAborted);
  }
  const bool clearIn = (flags & kPurgeRxClear) != 0;
  const bool clearOut = (flags & kPurgeTxClear) != 0;
  if (clearIn) {
    input_.clear();
    inputHead_ = 0;
    filter_.Reset();
    wasAbove80_ = false;
    UpdateInputHold();
  }
  if (clearOut) txChar_.reset();
  // A device that has gone away fails the purge, as a removed device does on
  // Windows; what was pending has been aborted all the same, so the port
  // still closes.
  if (dead_) return static_cast<std::uint32_t>(dead_);
  if (int error = terminal::Flush(fd_.get(), clearIn, clearOut)) {
    return static_cast<std::uint32_t>(error);
  }
  Wake();
  return 0;
}

// ---------------------------------------------------------------------------
// The device thread.

void SerialDevice::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

bool SerialDevice::WantsInput() const { return !dead_ && !inputHeld_; }

void SerialDevice::UpdateInputHold() {
  // Without flow control the queue is taken to its size; with it, input
  // stops when XoffLim bytes of room are left and resumes when no more than
  // XonLim bytes are held. Stopping leaves the bytes in the driver, whose
  // own flow control then holds the sender back: nothing is dropped.
  const bool flow = (dcb_.Flags & kDcbInX) != 0 ||
                    ((dcb_.Flags & kDcbRtsControlMask) >>
                     kDcbRtsControlShift) == kRtsControlHandshake;
  std::size_t stopAt = inQueue_;
  std::size_t resumeAt = inQueue_ - 1;
  if (flow && dcb_.XoffLim < inQueue_) {
    stopAt = inQueue_ - dcb_.XoffLim;
    resumeAt = std::min<std::size_t>(dcb_.XonLim, stopAt - 1);
  }
  const std::size_t held = InputCount();
  if (held >= stopAt) inputHeld_ = true;
  if (held <= resumeAt) inputHeld_ = false;
}

int SerialDevice::PollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> next = drainCheck_;
  auto consider = [&](std::optional<Clock::time_point> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  if (!reads_.empty()) consider(reads_.front().NextDeadline());
  if (OutputWaiting()) consider(writes_.front().deadline);
  consider(outputStall_);
  if (!next) return -1;
  if (*next <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
  return static_cast<int>(std::min<std::int64_t>(ms.count(), 1 << 30));
}

std::uint32_t SerialDevice::WantedEvents(Clock::time_point now) const {
  if (dead_ || stopping_) return 0;
  std::uint32_t events = 0;
  if (WantsInput() && !inputLent_) events |= POLLIN;
  const bool stalled = outputStall_ && *outputStall_ > now;
  if ((OutputWaiting() || txChar_) && !outputStopped_ && !stalled) {
    events |= POLLOUT;
  }
  return events;
}

void SerialDevice::UpdateInterest(Clock::time_point now) {
  // A hung-up device reports readiness at every wait; it is only in the set
  // while something wants it, and each wake-up then makes progress.
  const std::uint32_t wanted = WantedEvents(now);
  if (wanted == armed_) return;
  epoll_event interest{};
  interest.events = wanted;
  interest.data.fd = fd_.get();
  const int op = armed_ == 0   ? EPOLL_CTL_ADD
                 : wanted == 0 ? EPOLL_CTL_DEL
                               : EPOLL_CTL_MOD;
  if (::epoll_ctl(poll_.get(), op, fd_.get(), &interest) == 0) armed_ = wanted;
}

void SerialDevice::Run() {
  static_assert(EPOLLIN == POLLIN && EPOLLOUT == POLLOUT &&
                EPOLLHUP == POLLHUP && EPOLLERR == POLLERR);
  Lock lock(*this);
  while (!stopping_) {
    if (outputStall_ && *outputStall_ <= Clock::now()) outputStall_.reset();
    UpdateInterest(Clock::now());
    const int timeout = PollTimeout(Clock::now());
    lock.unlock();
    epoll_event ready[3];
    const int count = ::epoll_wait(poll_.get(), ready, 3, timeout);
    std::uint32_t got = 0;
    bool handBack = false;
    for (int i = 0; i < count; ++i) {
      const int which = ready[i].data.fd;
      if (which == fd_.get()) {
        got = ready[i].events;
        continue;
      }
      handBack |= which == handBack_.get();
      std::uint64_t value = 0;
      [[maybe_unused]] ssize_t n = ::read(which, &value, sizeof value);
    }
    lock.lock();
    if (stopping_) break;
    // The last watch ended a while ago and nobody watches now: the input is
    // this thread's again (the next pass puts it into the set).
    if (handBack && !inputWatched_) inputLent_ = false;
    const Clock::time_point now = Clock::now();
    OnDriverReady(got, now);
    ExpireTimers(now);
    CheckDrained();
  }
  if (armed_ != 0) {
    ::epoll_ctl(poll_.get(), EPOLL_CTL_DEL, fd_.get(), nullptr);
    armed_ = 0;
  }
}

void SerialDevice::OnDriverReady(std::uint32_t got, Clock::time_point now) {
  if (got & (POLLIN | POLLHUP | POLLERR)) PumpInput(now);
  if (got & (POLLOUT | POLLHUP | POLLERR)) {
    const std::uint64_t before = written_;
    PumpOutput(now);
    // A pseudo-terminal whose output is stopped (XOFF) reports room yet
    // takes nothing: look again a little later instead of spinning.
    if (written_ == before && !dead_ && (OutputWaiting() || txChar_)) {
      outputStall_ = now + std::chrono::milliseconds(10);
    }
  }
  if ((got & (POLLHUP | POLLERR)) && !dead_ && WantsInput()) {
    // Input wanted, yet the driver neither gave data nor an error.
    MarkDead(EIO);
  }
}

int SerialDevice::BeginInputWatch() {
  Lock lock(*this);
  if (closed_ || inputWatched_ || !WantsInput()) return -1;
  // Only input ends an event wait or a read; for anything else the device's
  // thread keeps watching.
  if (!wait_ && reads_.empty()) return -1;
  inputWatched_ = true;
  inputLent_ = true;
  UpdateInterest(Clock::now());
  return fd_.get();
}

void SerialDevice::ReclaimInput() {
  if (!inputLent_ || inputWatched_) return;
  inputLent_ = false;
  UpdateInterest(Clock::now());
}

void SerialDevice::EndInputWatch(short revents) {
  Lock lock(*this);
  inputWatched_ = false;
  if (closed_) return;
  const Clock::time_point now = Clock::now();
  if (revents != 0) {
    // Only what the watch asked for: output stays the device thread's.
    OnDriverReady(static_cast<std::uint16_t>(revents) & ~POLLOUT, now);
    // A read that took bytes may now end earlier (its interval): the
    // device's thread recomputes its timeout.
    if (!reads_.empty()) Wake();
  }
  // The input stays lent for a moment: a thread that handles what ended its
  // wait and waits again at once finds a byte sent meanwhile in the driver,
  // where its next watch sees it, instead of having the device's thread
  // woken for it. Only when no watch has begun by then does the device's
  // thread take the input back.
  itimerspec moment{};
  moment.it_value.tv_nsec = kInputLendNs;
  if (::timerfd_settime(handBack_.get(), 0, &moment, nullptr) != 0)
    ReclaimInput();
}

void SerialDevice::PumpInput(Clock::time_point now) {
  InputReport report;
  while (WantsInput()) {
    const std::size_t room =
        inQueue_ > InputCount() ? inQueue_ - InputCount() : 0;
    if (room == 0) break;
    std::uint8_t raw[4096];
    const std::size_t asked = std::min(room, sizeof raw);
    const ssize_t n = ::read(fd_.get(), raw, asked);
    if (n > 0) {
      if (inputHead_ > 0 && inputHead_ >= input_.size() / 2) {
        input_.erase(input_.begin(),
                     input_.begin() + static_cast<std::ptrdiff_t>(inputHead_));
        inputHead_ = 0;
      }
      InputReport part =
          filter_.Filter(raw, static_cast<std::size_t>(n), input_);
      report.received |= part.received;
      report.eventChar |= part.eventChar;
      report.lineBreak |= part.lineBreak;
      report.lineError |= part.lineError;
      UpdateInputHold();
      // Less than asked for: the driver held no more. What comes later is
      // the next poll's, so the pending events are raised now.
      if (static_cast<std::size_t>(n) < asked) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    // End of file: the line has hung up. A pseudo-terminal whose far end
    // has closed says EIO.
    MarkDead(n == 0 ? EIO : errno);
  }
  std::uint32_t events = 0;
  if (report.received) events |= kEvRxChar;
  if (report.eventChar) events |= kEvRxFlag;
  if (report.lineBreak) {
    events |= kEvBreak;
    errors_ |= kCeBreak;
  }
  if (report.lineError) {
    events |= kEvErr;
    if (!hasCounters_ && (dcb_.Flags & kDcbParity)) errors_ |= kCeRxParity;
  }
  // Overruns leave no mark in the stream; the driver's counters show them.
  LineCounters counted{};
  if ((mask_ & kEvErr) && hasCounters_ &&
      ReadLineCounters(fd_.get(), &counted)) {
    if (ErrorsBetween(eventCounters_, counted) & ~kCeBreak) events |= kEvErr;
    eventCounters_ = counted;
  }
  // Bytes a pending read takes at once never fill the queue.
  ServeReads(now);
  const bool above80 = InputCount() * 10 >= std::size_t{inQueue_} * 8;
  if (above80 && !wasAbove80_) events |= kEvRx80Full;
  wasAbove80_ = above80;
  Raise(events);
}

void SerialDevice::ServeReads(Clock::time_point now) {
  while (!reads_.empty()) {
    PendingRead& read = reads_.front();
    if (!read.active) read.Activate(now);
    const std::size_t take =
        std::min<std::size_t>(InputCount(), read.size - read.got);
    if (take > 0) {
      std::memcpy(read.buffer + read.got, input_.data() + inputHead_, take);
      inputHead_ += take;
      read.got += static_cast<std::uint32_t>(take);
      read.lastByte = now;
      if (inputHead_ == input_.size()) {
        input_.clear();
        inputHead_ = 0;
      }
    }
    if (!read.Satisfied()) break;
    FinishRead(0);
  }
  if (InputCount() * 10 < std::size_t{inQueue_} * 8) wasAbove80_ = false;
  const bool wasHeld = inputHeld_;
  UpdateInputHold();
  if (wasHeld && !inputHeld_) Wake();
}

bool SerialDevice::WriteSome(PendingWrite& write) {
  const std::uint32_t before = write.sent;
  const int error =
      WriteToDriver(fd_.get(), write.data, write.size, write.sent);
  written_ += write.sent - before;
  if (error != 0) {
    MarkDead(error);
    return false;
  }
  return write.sent == write.size;
}

void SerialDevice::SendFirst(Lock& lock) {
  // The device is left unlocked while the driver takes the bytes: the
  // event thread re-arming its wait, or a status call, does not queue up
  // behind the system call. Meanwhile the write stays first in the queue and
  // nothing else sends; an abort only marks it.
  PendingWrite& write = writes_.front();
  write.inFlight = true;
  std::uint32_t sent = write.sent;
  lock.unlock();
  const int error = WriteToDriver(fd_.get(), write.data, write.size, sent);
  lock.lock();
  write.inFlight = false;
  written_ += sent - write.sent;
  write.sent = sent;
  const bool driverFull =
      sent < write.size && error == 0 && write.abortedWith == 0;
  if (write.abortedWith != 0) {
    FinishWrite(write.abortedWith);
  } else if (error != 0) {
    MarkDead(error);
  } else if (!driverFull) {
    FinishWrite(0);
  }
  // The rest of this write, once the driver has room again, and what was
  // queued meanwhile go on as usual.
  if (!driverFull && OutputWaiting()) ServeWrites(Clock::now());
  if (OutputWaiting()) Wake();
}

void SerialDevice::ServeWrites(Clock::time_point now) {
  while (OutputWaiting() && !dead_) {
    PendingWrite& write = writes_.front();
    if (!write.active) write.Activate(now);
    if (!WriteSome(write)) return;
    FinishWrite(0);
  }
}

void SerialDevice::PumpOutput(Clock::time_point now) {
  if (txChar_) {
    const std::uint8_t ch = *txChar_;
    const ssize_t n = ::write(fd_.get(), &ch, 1);
    if (n == 1) {
      txChar_.reset();
      ++written_;
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      MarkDead(errno);
    }
    if (txChar_) return;
  }
  ServeWrites(now);
}

void SerialDevice::ExpireTimers(Clock::time_point now) {
  // A read or write whose time is up ends successfully with what it moved.
  while (!reads_.empty()) {
    std::optional<Clock::time_point> deadline = reads_.front().NextDeadline();
    if (!deadline || *deadline > now) break;
    FinishRead(0);
    ServeReads(now);
  }
  while (OutputWaiting()) {
    const PendingWrite& write = writes_.front();
    if (!write.deadline || *write.deadline > now) break;
    FinishWrite(0);
    ServeWrites(now);
  }
}

void SerialDevice::CheckDrained() {
  // The clock is read only when the driver may still hold output: a write
  // that the driver passes on at once (a pseudo-terminal's) does not pay
  // for it.
  if (!awaitingDrain_ || !writes_.empty() || txChar_) return;
  if (drainCheck_ && *drainCheck_ > Clock::now()) return;
  const int queued = DriverOutput();
  if (queued <= 0) {
    awaitingDrain_ = false;
    drainCheck_.reset();
    Raise(kEvTxEmpty);
    return;
  }
  // The driver still sends: look again when, at the line's speed, it should
  // have finished.
  const std::uint64_t us = std::uint64_t{static_cast<unsigned>(queued)} *
                           BitsPerChar(dcb_) * 1000000u /
                           std::max<std::uint32_t>(dcb_.BaudRate, 1);
  drainCheck_ = Clock::now() +
                std::chrono::microseconds(std::max<std::uint64_t>(us, 1000));
}

// ---------------------------------------------------------------------------
// Endings.

void SerialDevice::Raise(std::uint32_t events) {
  events &= mask_;
  if (events == 0) return;
  if (wait_) {
    *wait_->mask = events;
    wait_->done.Finish(0, 0);
    wait_.reset();
    finished_.notify_all();
  } else {
    history_ |= events;
  }
}

void SerialDevice::FinishRead(std::uint32_t status) {
  PendingRead& read = reads_.front();
  // A read that got bytes before the device went away keeps them.
  if (status != 0 && status != kErrorOperationAborted && read.got > 0)
    status = 0;
  read.done.Finish(status, read.got);
  reads_.pop_front();
  finished_.notify_all();
}

void SerialDevice::FinishWrite(std::uint32_t status) {
  PendingWrite& write = writes_.front();
  write.done.Finish(status, write.sent);
  writes_.pop_front();
  finished_.notify_all();
  if (writes_.empty() && status == 0 && (mask_ & kEvTxEmpty)) {
    awaitingDrain_ = true;
    drainCheck_.reset();
    CheckDrained();
  }
}

void SerialDevice::AbortWrites(std::uint32_t status) {
  // A write whose bytes the driver is taking right now ends, with this
  // status, once that call has returned.
  const bool sending = !writes_.empty() && writes_.front().inFlight;
  while (writes_.size() > (sending ? 1u : 0u)) {
    PendingWrite& last = writes_.back();
    last.done.Finish(status, last.sent);
    writes_.pop_back();
  }
  if (sending) writes_.front().abortedWith = status;
  finished_.notify_all();
}

void SerialDevice::AbortAll(std::uint32_t status) {
  while (!reads_.empty()) FinishRead(status);
  AbortWrites(status);
  if (wait_) {
    *wait_->mask = 0;
    wait_->done.Finish(status, 0);
    wait_.reset();
    finished_.notify_all();
  }
}

void SerialDevice::MarkDead(int error) {
  if (dead_) return;
  dead_ = error;
  AbortAll(static_cast<std::uint32_t>(error));
}

int SerialDevice::DriverInput() const {
  int held = 0;
  return ::ioctl(fd_.get(), FIONREAD, &held) == 0 ? std::max(held, 0) : 0;
}

int SerialDevice::DriverOutput() const {
  if (!queuesOutput_) return 0;
  int queued = 0;
  return ::ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 ? std::max(queued, 0) : 0;
}

std::uint32_t SerialDevice::LineErrors() {
  std::uint32_t errors = errors_;
  errors_ = 0;
  LineCounters now{};
  if (hasCounters_ && ReadLineCounters(fd_.get(), &now)) {
    errors |= ErrorsBetween(counters_, now);
    counters_ = now;
  }
  return errors;
}

void SerialDevice::OnLineChange(std::uint32_t events) {
  Lock lock(*this);
  if (!closed_) Raise(events);
}

}  // namespace cport::comm::posix
