// One open terminal device behind a comm handle: the Win32 serial calls
// carried out on it. A background thread per device waits in epoll for
// input, output room, wake-ups and the next timeout, and ends overlapped
// reads, writes and event waits as Windows' serial driver would. A thread
// that waits for the event of a pending operation may take over watching
// the input meanwhile (see InputSource).
//
// Every call returns 0 for success, kErrorIoPending for an operation that
// goes on in the background, or an error number.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cport/comm/comm_api.h"
#include "cport/comm/posix/device_claim.h"
#include "cport/comm/posix/input_filter.h"
#include "cport/comm/posix/kernel_objects.h"
#include "cport/comm/posix/line_watch.h"
#include "cport/comm/posix/overlapped_ops.h"
#include "cport/comm/posix/unique_fd.h"

namespace cport::comm::posix {

class SerialDevice final : public KernelObject, public InputSource {
 public:
  // Opens the terminal at `path` (only a terminal: anything else fails as
  // not found). `exclusive` keeps every other opener out.
  static std::shared_ptr<SerialDevice> Open(const std::string& path,
                                            std::uint32_t access,
                                            bool exclusive,
                                            std::uint32_t* error);
  ~SerialDevice() override;
  static bool IsKind(ObjectKind kind) { return kind == ObjectKind::kDevice; }
  void OnClose() override;

  std::uint32_t Setup(std::uint32_t inQueue, std::uint32_t outQueue);
  std::uint32_t SetState(const Dcb& dcb);
  std::uint32_t SetTimeouts(const CommTimeouts& timeouts);
  std::uint32_t SetMask(std::uint32_t mask);
  std::uint32_t WaitEvent(std::uint32_t* mask, Overlapped* ov);
  std::uint32_t Read(void* buffer, std::uint32_t count, std::uint32_t* read,
                     Overlapped* ov);
  std::uint32_t Write(const void* buffer, std::uint32_t count,
                      std::uint32_t* written, Overlapped* ov);
  std::uint32_t Result(Overlapped* ov, std::uint32_t* transferred, bool wait);
  std::uint32_t ClearError(std::uint32_t* errors, ComStat* stat);
  std::uint32_t ModemStatus(std::uint32_t* status);
  std::uint32_t Escape(std::uint32_t function);
  std::uint32_t TransmitChar(std::uint8_t ch);
  std::uint32_t Purge(std::uint32_t flags);

  int BeginInputWatch() override;
  void EndInputWatch(short revents) override;

  struct Private;  // lets Open construct

  SerialDevice(Private, UniqueFd fd, UniqueFd wake, UniqueFd handBack,
               UniqueFd poll);

 private:
  // Holds the device's lock. Releasing it sets the events of the
  // operations that ended while it was held.
  class Lock {
   public:
    explicit Lock(SerialDevice& device);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock() { held_.lock(); }
    void unlock();
    // Sets the pending events now, with the lock still held (before a wait
    // that releases it only for a while).
    void SignalNow();
    std::unique_lock<std::mutex>& Held() { return held_; }

   private:
    SerialDevice& device_;
    std::unique_lock<std::mutex> held_;
  };

  // Issues an operation with a caller's record, or, without one, with a
  // private record and waits for it (a synchronous call).
  template <class Issue>
  std::uint32_t Overlap(Overlapped* ov, std::uint32_t* count, Issue issue);
  std::uint32_t CheckOpen() const;

  void Run();
  void Wake();
  int PollTimeout(Clock::time_point now) const;
  // The poll events the device's thread watches the driver for now.
  std::uint32_t WantedEvents(Clock::time_point now) const;
  // Brings the device's thread's epoll interest in line with WantedEvents,
  // without waking that thread.
  void UpdateInterest(Clock::time_point now);
  // Gives input lent to watching threads back to the device's thread now,
  // for a caller about to wait without watching it.
  void ReclaimInput();
  // Takes what the driver showed (poll events) for input, output and hang-up.
  void OnDriverReady(std::uint32_t got, Clock::time_point now);

  void PumpInput(Clock::time_point now);
  void PumpOutput(Clock::time_point now);
  bool WriteSome(PendingWrite& write);
  // Hands the first write of the queue to the driver with the lock released.
  void SendFirst(Lock& lock);
  // A write waits to be sent (the first one is not being sent right now).
  bool OutputWaiting() const {
    return !writes_.empty() && !writes_.front().inFlight;
  }
  void ServeReads(Clock::time_point now);
  void ServeWrites(Clock::time_point now);
  void ExpireTimers(Clock::time_point now);
  void CheckDrained();
  void Raise(std::uint32_t events);
  void MarkDead(int error);
  void FinishRead(std::uint32_t status);
  void FinishWrite(std::uint32_t status);
  void AbortWrites(std::uint32_t status);
  void AbortAll(std::uint32_t status);

  std::size_t InputCount() const { return input_.size() - inputHead_; }
  bool WantsInput() const;
  void UpdateInputHold();
  std::uint32_t LineErrors();
  // Bytes the driver holds: received and not yet taken, and written and
  // not yet sent (0 where it cannot tell).
  int DriverInput() const;
  int DriverOutput() const;
  void OnLineChange(std::uint32_t events);

  const UniqueFd fd_;
  const UniqueFd wake_;      // wakes the device's thread
  const UniqueFd handBack_;  // a timer: gives lent input back to it
  const UniqueFd poll_;      // the device's thread's epoll set
  DeviceClaim claim_;
  bool hasCounters_ = false;
  bool hasModemLines_ = false;
  bool queuesOutput_ = true;  // false where output never waits in the driver

  mutable std::mutex mutex_;
  PendingSignals signals_;  // guarded by mutex_
  // Lists of events being set after the lock was released.
  std::atomic<int> signalling_{0};
  std::condition_variable finished_;
  bool closed_ = false;
  bool stopping_ = false;
  // Another thread watches the input (between its BeginInputWatch and its
  // EndInputWatch). The input is lent from the first watch until a short
  // while after the last has ended; meanwhile the device's thread does not
  // watch it.
  bool inputWatched_ = false;
  bool inputLent_ = false;
  std::uint32_t armed_ = 0;  // the driver's events in the epoll set
  int dead_ = 0;             // the error a hung-up device reports

  Dcb dcb_{};
  CommTimeouts timeouts_{};
  std::uint32_t inQueue_ = 4096;
  std::uint32_t outQueue_ = 4096;
  std::uint32_t mask_ = 0;
  std::uint32_t history_ = 0;   // events seen while no wait was pending
  std::uint32_t errors_ = 0;    // CE_* bits since the last ClearCommError
  bool outputStopped_ = false;  // SETXOFF in force
  bool inputHeld_ = false;
  bool wasAbove80_ = false;
  bool awaitingDrain_ = false;
  std::optional<Clock::time_point> drainCheck_;
  std::optional<Clock::time_point> outputStall_;
  std::uint64_t written_ = 0;  // bytes handed to the driver
  std::optional<std::uint8_t> txChar_;

  InputFilter filter_;
  std::vector<std::uint8_t> input_;
  std::size_t inputHead_ = 0;
  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
  std::optional<PendingWait> wait_;

  // Baselines of the kernel's line counters: for ClearCommError, and for
  // the EV_ERR events.
  LineCounters counters_{};
  LineCounters eventCounters_{};
  LineWatch lineWatch_;
  std::thread thread_;
};

}  // namespace cport::comm::posix
