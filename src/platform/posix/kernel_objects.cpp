#include "platform/posix/kernel_objects.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <unordered_map>

namespace comm::posix {
namespace {

// The table is split into shards by handle value, each with its own lock,
// so that the ports' threads, each making and closing handles of its own,
// seldom meet on one lock.
constexpr std::size_t kShards = 16;
constexpr Handle kHandleStep = 4;

struct Shard {
  std::mutex lock;
  std::unordered_map<Handle, std::shared_ptr<KernelObject>> objects;
};

struct Table {
  std::array<Shard, kShards> shards;
  std::atomic<Handle> next{0x1000};

  Shard& For(Handle h) { return shards[(h / kHandleStep) % kShards]; }
};

Table& TheTable() {
  static Table table;
  return table;
}

thread_local std::uint32_t tLastError = 0;

}  // namespace

void Waiter::Wake() {
  // The waker holds the lock of an object the waiter is registered with,
  // and the waiter cannot leave its wait without that lock: it is alive.
  if (state_.exchange(kWoken) == kAsleep) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&state_),
              FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
}

bool Waiter::Sleep(
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  timespec until{};
  if (deadline) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        deadline->time_since_epoch())
                        .count();
    until.tv_sec = static_cast<time_t>(ns / 1000000000);
    until.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  for (;;) {
    std::uint32_t state = kIdle;
    if (!state_.compare_exchange_strong(state, kAsleep) && state == kWoken) {
      state_.store(kIdle);
      return true;
    }
    // Asleep until the word changes, a signal comes, or the deadline
    // (on the steady clock, CLOCK_MONOTONIC) passes.
    const long result =
        ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&state_),
                  FUTEX_WAIT_BITSET_PRIVATE, kAsleep,
                  deadline ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
    if (result != 0 && errno == ETIMEDOUT) {
      // A wake-up that came as the time ran out still counts.
      state = kAsleep;
      if (state_.compare_exchange_strong(state, kIdle)) return false;
      state_.store(kIdle);
      return true;
    }
  }
}

void Waitable::RemoveWaiter(Waiter* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) {
    *it = waiters_.back();
    waiters_.pop_back();
  }
}

void Waitable::WakeWaiters() {
  for (Waiter* waiter : waiters_) waiter->Wake();
}

void Event::Set() {
  std::lock_guard guard(Lock());
  signalled_ = true;
  WakeWaiters();
}

void Event::Reset() {
  std::lock_guard guard(Lock());
  signalled_ = false;
}

Handle Register(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  const Handle h = table.next.fetch_add(kHandleStep);
  Shard& shard = table.For(h);
  std::lock_guard guard(shard.lock);
  shard.objects.emplace(h, std::move(object));
  return h;
}

std::shared_ptr<KernelObject> Lookup(Handle h) {
  Shard& shard = TheTable().For(h);
  std::lock_guard guard(shard.lock);
  auto it = shard.objects.find(h);
  return it == shard.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> Unregister(Handle h) {
  Shard& shard = TheTable().For(h);
  std::lock_guard guard(shard.lock);
  auto it = shard.objects.find(h);
  if (it == shard.objects.end()) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(it->second);
  shard.objects.erase(it);
  return object;
}

void SetLastErrorValue(std::uint32_t code) { tLastError = code; }
std::uint32_t LastErrorValue() { return tLastError; }

}  // namespace comm::posix
