// The bookkeeping of overlapped operations on a serial device: how each one
// ends (status and count into its record, then its event), and the state of
// pending reads, writes and event waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cport/comm/comm_api.h"
#include "cport/comm/posix/kernel_objects.h"

namespace cport::comm::posix {

using Clock = std::chrono::steady_clock;

// A timeout in milliseconds, capped so that adding it to a clock reading
// cannot overflow (the cap is decades).
inline std::chrono::milliseconds TimeoutMs(std::uint64_t ms) {
  constexpr std::uint64_t kCap = std::uint64_t{1} << 40;
  return std::chrono::milliseconds(ms < kCap ? ms : kCap);
}

// The status of a record, read with the ordering its writer gives it: once
// it is no longer pending, the count beside it is final too. A record may
// be read this way by a thread that holds no lock of the device.
inline std::uint32_t RecordStatus(Overlapped& ov) {
  return static_cast<std::uint32_t>(
      std::atomic_ref(ov.Internal).load(std::memory_order_acquire));
}

// Events of ended operations, to be set once the device's lock is released:
// a thread woken by one then does not run straight into that lock.
using PendingSignals = std::vector<std::shared_ptr<Event>>;

// The record and event of one operation. The record belongs to the caller
// and may be freed as soon as its event is set, so Finish touches it first
// and last; the event is kept alive here.
class Completion {
 public:
  Completion(Overlapped* ov, std::shared_ptr<Event> event,
             PendingSignals* signals)
      : ov_(ov), event_(std::move(event)), signals_(signals) {}

  // Marks the record as running and clears its event.
  void Start() {
    std::atomic_ref(ov_->Internal).store(kStatusPending);
    ov_->InternalHigh = 0;
    if (event_) event_->Reset();
  }
  // Lets a thread that waits on the event watch `source`'s input meanwhile.
  void WatchInputOf(std::weak_ptr<InputSource> source) {
    if (event_) event_->SetSource(std::move(source));
  }
  bool Ended() const {
    return std::atomic_ref(ov_->Internal).load(std::memory_order_acquire) !=
           kStatusPending;
  }
  // Fills in the record; its event is set with the device's pending ones.
  // Called once, as the operation ends.
  void Finish(std::uint32_t status, std::uint32_t count) {
    ov_->InternalHigh = count;
    std::atomic_ref(ov_->Internal).store(status, std::memory_order_release);
    if (event_) signals_->push_back(std::move(event_));
  }

 private:
  Overlapped* ov_;
  std::shared_ptr<Event> event_;
  PendingSignals* signals_;
};

// When a read ends, decided from the timeouts in force when it was issued.
struct ReadPolicy {
  bool immediate = false;                // return at once with what is there
  bool returnOnAny = false;              // return as soon as one byte is there
  std::optional<std::uint64_t> totalMs;  // whole operation
  std::uint32_t intervalMs = 0;          // between bytes; 0 for none

  static ReadPolicy From(const CommTimeouts& t, std::uint32_t count);
};

struct PendingRead {
  PendingRead(Completion d, std::uint8_t* b, std::uint32_t n, ReadPolicy p)
      : done(d), buffer(b), size(n), policy(p) {}

  Completion done;
  std::uint8_t* buffer;
  std::uint32_t size;
  ReadPolicy policy;
  std::uint32_t got = 0;
  bool active = false;
  std::optional<Clock::time_point> deadline;
  Clock::time_point lastByte{};

  bool Satisfied() const {
    return got == size || policy.immediate || (policy.returnOnAny && got > 0);
  }
  void Activate(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadline() const;
};

struct PendingWrite {
  PendingWrite(Completion d, const std::uint8_t* b, std::uint32_t n,
               std::optional<std::uint64_t> total)
      : done(d), data(b), size(n), totalMs(total) {}

  Completion done;
  const std::uint8_t* data;
  std::uint32_t size;
  std::optional<std::uint64_t> totalMs;
  std::uint32_t sent = 0;
  bool active = false;
  // Being handed to the driver with the device unlocked; an abort meanwhile
  // leaves its status here.
  bool inFlight = false;
  std::uint32_t abortedWith = 0;
  std::optional<Clock::time_point> deadline;

  void Activate(Clock::time_point now) {
    active = true;
    if (totalMs) deadline = now + TimeoutMs(*totalMs);
  }
};

struct PendingWait {
  Completion done;
  std::uint32_t* mask;
};

}  // namespace cport::comm::posix
