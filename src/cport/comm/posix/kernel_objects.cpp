#include "cport/comm/posix/kernel_objects.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <new>
#include <vector>

namespace cport::comm::posix {
namespace {

// The table is split into shards, each with its own lock, so that the
// ports' threads, each making and closing handles of its own, seldom meet on
// one lock: a thread registers its objects in one shard. A handle names its
// shard, a slot of it and the slot's generation; a closed handle's slot is
// used again under the next generation, so the old value stays invalid.
constexpr unsigned kShardBits = 4;
constexpr std::size_t kShards = std::size_t{1} << kShardBits;
constexpr unsigned kSlotBits = 24;
constexpr unsigned kHandleShift = 2;  // multiples of 4, as on Windows

struct Slot {
  std::shared_ptr<KernelObject> object;
  std::uint32_t generation = 1;
};

// A cache line each: the threads of different ports touch different shards.
struct alignas(64) Shard {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> free;
};

struct Place {
  std::size_t shard;
  std::size_t slot;
  std::uint32_t generation;
};

Handle Encode(const Place& place) {
  const Handle value = (Handle{place.generation} << (kSlotBits + kShardBits)) |
                       (Handle{place.slot} << kShardBits) | place.shard;
  return value << kHandleShift;
}

Place Decode(Handle h) {
  const Handle value = h >> kHandleShift;
  return {value & (kShards - 1),
          (value >> kShardBits) & ((Handle{1} << kSlotBits) - 1),
          static_cast<std::uint32_t>(value >> (kSlotBits + kShardBits))};
}

struct Table {
  std::array<Shard, kShards> shards;
  std::atomic<std::size_t> nextShard{0};

  // The slot `h` names while it still holds that object (lock held).
  Slot* Find(Shard& shard, const Place& place, Handle h) {
    if (Encode(place) != h || place.slot >= shard.slots.size()) return nullptr;
    Slot& slot = shard.slots[place.slot];
    if (slot.generation != place.generation || !slot.object) return nullptr;
    return &slot;
  }
};

Table& TheTable() {
  static Table table;
  return table;
}

thread_local std::uint32_t tLastError = 0;

// Set once this thread's Remembered has been destroyed at its exit.
thread_local bool tRememberedGone = false;

// The handles this thread made or looked up last. An entry is used only
// while its object's handle is open: a handle value names no other object
// until its own is closed. Weak, so that remembering an object does not
// keep it alive.
class Remembered {
 public:
  Remembered() = default;
  Remembered(const Remembered&) = delete;
  Remembered& operator=(const Remembered&) = delete;
  ~Remembered() { tRememberedGone = true; }

  std::shared_ptr<KernelObject> Find(Handle h) const {
    for (const Entry& entry : entries_) {
      if (entry.handle != h) continue;
      std::shared_ptr<KernelObject> object = entry.object.lock();
      if (object && !object->HandleClosed()) return object;
      return nullptr;
    }
    return nullptr;
  }
  // Takes a free entry, or else the one after the entry taken last.
  void Add(Handle h, const std::shared_ptr<KernelObject>& object) {
    auto free =
        std::find_if(entries_.begin(), entries_.end(),
                     [](const Entry& entry) { return entry.handle == 0; });
    if (free == entries_.end()) {
      free = entries_.begin() + next_;
      next_ = (next_ + 1) % entries_.size();
    }
    *free = {h, object};
  }
  void Forget(Handle h) {
    for (Entry& entry : entries_) {
      if (entry.handle == h) entry = {};
    }
  }

 private:
  struct Entry {
    Handle handle = 0;
    std::weak_ptr<KernelObject> object;
  };
  std::array<Entry, 4> entries_{};
  std::size_t next_ = 0;
};

// This thread's, or null once the thread's exit has destroyed it: another
// object destroyed at thread exit may still close a handle.
Remembered* Mine() {
  if (tRememberedGone) return nullptr;
  thread_local Remembered remembered;
  return &remembered;
}

}  // namespace

void Wakeups::Add(std::atomic<std::uint32_t>* word) {
  if (count_ < words_.size()) {
    words_[count_++] = word;
  } else {
    more_.push_back(word);
  }
}

void Wakeups::Add(std::shared_ptr<const UniqueFd> kick) {
  kicks_.push_back(std::move(kick));
}

Wakeups::~Wakeups() {
  // A word is a waiting thread's own (thread-local), so it is there while
  // that thread runs. Should the thread have left its wait meanwhile, the
  // wake-up finds nobody asleep on the word, or at worst wakes a sleeper on
  // reused memory early, which every sleeper on a futex tolerates. A kick
  // that comes late leaves its descriptor readable: the next watch then
  // returns at once, and its caller looks again.
  auto wake = [](std::atomic<std::uint32_t>* word) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word),
              FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  };
  for (std::size_t i = 0; i < count_; ++i) wake(words_[i]);
  for (std::atomic<std::uint32_t>* word : more_) wake(word);
  for (const auto& kick : kicks_) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(kick->get(), &one, sizeof one);
  }
}

void Waiter::Wake(Wakeups& wakeups) {
  switch (state_.exchange(kWoken)) {
    case kAsleep:
      wakeups.Add(&state_);
      break;
    case kWatching:
      wakeups.Add(kick_);
      break;
    default:
      break;
  }
}

namespace {

timespec ToTimespec(std::chrono::nanoseconds ns) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
  t.tv_nsec = static_cast<long>(ns.count() % 1000000000);
  return t;
}

}  // namespace

bool Waiter::Sleep(
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  timespec until{};
  if (deadline) until = ToTimespec(deadline->time_since_epoch());
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

bool Waiter::Watch(
    int fd, std::optional<std::chrono::steady_clock::time_point> deadline,
    short* revents) {
  *revents = 0;
  if (!kick_) {
    auto kick = std::make_shared<const UniqueFd>(
        ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    // Without a descriptor to be woken through, the thread sleeps as usual.
    if (!kick->valid()) return Sleep(deadline);
    kick_ = std::move(kick);
  }
  std::uint32_t state = kIdle;
  if (!state_.compare_exchange_strong(state, kWatching)) {
    state_.store(kIdle);  // woken already
    return true;
  }
  timespec left{};
  if (deadline) {
    left =
        ToTimespec(std::max(std::chrono::nanoseconds::zero(),
                            std::chrono::nanoseconds(
                                *deadline - std::chrono::steady_clock::now())));
  }
  pollfd fds[2] = {{kick_->get(), POLLIN, 0}, {fd, POLLIN, 0}};
  const int ready = ::ppoll(fds, 2, deadline ? &left : nullptr, nullptr);
  if (ready > 0 && (fds[0].revents & POLLIN)) {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(kick_->get(), &value, sizeof value);
  }
  if (ready > 0) *revents = fds[1].revents;
  const bool woken = state_.exchange(kIdle) == kWoken;
  // A signal (ready < 0) counts as a wake-up: the caller looks again.
  return woken || ready != 0;
}

void Waitable::RemoveWaiter(Waiter* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) {
    *it = waiters_.back();
    waiters_.pop_back();
  }
}

void Waitable::WakeWaiters(Wakeups& wakeups) {
  for (Waiter* waiter : waiters_) waiter->Wake(wakeups);
}

void Event::Set() {
  Wakeups wakeups;
  Set(wakeups);
}

void Event::Set(Wakeups& wakeups) {
  std::lock_guard guard(Lock());
  signalled_.store(true, std::memory_order_relaxed);
  WakeWaiters(wakeups);
}

void Event::SetSource(std::weak_ptr<InputSource> source) {
  std::lock_guard guard(Lock());
  source_ = std::move(source);
}

void Event::Reset() {
  // An event seen unsignalled needs no lock: the reset then takes effect at
  // that instant, before any Set still to come.
  if (!signalled_.load(std::memory_order_acquire)) return;
  std::lock_guard guard(Lock());
  signalled_.store(false, std::memory_order_relaxed);
}

Handle Register(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  thread_local const std::size_t tShard = table.nextShard++ % kShards;
  Shard& shard = table.shards[tShard];
  std::lock_guard guard(shard.lock);
  std::size_t index = shard.slots.size();
  if (!shard.free.empty()) {
    index = shard.free.back();
    shard.free.pop_back();
  } else if (index >> kSlotBits) {
    throw std::bad_alloc();
  } else {
    shard.slots.emplace_back();
  }
  Slot& slot = shard.slots[index];
  const Handle h = Encode({tShard, index, slot.generation});
  if (Remembered* mine = Mine()) mine->Add(h, object);
  slot.object = std::move(object);
  return h;
}

std::shared_ptr<KernelObject> Lookup(Handle h) {
  Remembered* mine = Mine();
  if (mine != nullptr) {
    if (std::shared_ptr<KernelObject> object = mine->Find(h)) return object;
  }
  Table& table = TheTable();
  const Place place = Decode(h);
  Shard& shard = table.shards[place.shard];
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard guard(shard.lock);
    Slot* slot = table.Find(shard, place, h);
    if (slot == nullptr) return nullptr;
    object = slot->object;
  }
  if (mine != nullptr) mine->Add(h, object);
  return object;
}

std::shared_ptr<KernelObject> Unregister(Handle h) {
  Table& table = TheTable();
  const Place place = Decode(h);
  Shard& shard = table.shards[place.shard];
  std::lock_guard guard(shard.lock);
  Slot* slot = table.Find(shard, place, h);
  if (!slot) return nullptr;
  std::shared_ptr<KernelObject> object = std::move(slot->object);
  slot->object.reset();
  object->MarkHandleClosed();
  if (Remembered* mine = Mine()) mine->Forget(h);
  // Generation 0 is skipped: no handle is 0.
  if (++slot->generation == 0) slot->generation = 1;
  shard.free.push_back(static_cast<std::uint32_t>(place.slot));
  return object;
}

void SetLastErrorValue(std::uint32_t code) { tLastError = code; }
std::uint32_t LastErrorValue() { return tLastError; }

}  // namespace cport::comm::posix
