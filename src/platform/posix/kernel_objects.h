// Handles on POSIX: one process-wide table of the objects that Win32 would
// keep in the kernel (events, threads, devices). A handle value comes back
// only after its slot has been closed four billion times, so a stale handle
// fails as invalid instead of reaching a new object.
//
// Every waitable object has its own lock and its own list of the threads
// waiting on it: a state change wakes only the threads that wait on that
// object, never those of another port.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/comm_api.h"

namespace comm::posix {

enum class ObjectKind : std::uint8_t { kEvent, kThread, kDevice };

class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind Kind() const { return kind_; }
  // Runs once, when the last handle to the object is closed.
  virtual void OnClose() {}

 private:
  const ObjectKind kind_;
};

// The sleeping threads that a change of state wakes, woken when this goes
// out of scope: declared before the lock of the changed object is taken,
// it wakes them once that lock is released, so that a woken thread does not
// run straight into it.
class Wakeups {
 public:
  Wakeups() = default;
  ~Wakeups();
  Wakeups(const Wakeups&) = delete;
  Wakeups& operator=(const Wakeups&) = delete;
  void Add(std::atomic<std::uint32_t>* word);

 private:
  std::array<std::atomic<std::uint32_t>*, 4> words_{};
  std::size_t count_ = 0;
  std::vector<std::atomic<std::uint32_t>*> more_;
};

// A thread blocked in a wait, woken by any object it is registered with.
// It sleeps in the kernel on its own word: a wake-up costs the waker one
// system call, and none when the thread is not asleep.
class Waiter {
 public:
  // Marks the waiter as woken; its thread, when asleep, is woken by
  // `wakeups`. Called with the lock of an object the waiter is registered
  // with held: the waiter cannot leave its wait without that lock.
  void Wake(Wakeups& wakeups);
  // Sleeps until woken or until `deadline` passes; returns false on the
  // deadline. Clears the woken mark before it returns.
  bool Sleep(std::optional<std::chrono::steady_clock::time_point> deadline);

 private:
  enum : std::uint32_t { kIdle, kWoken, kAsleep };
  std::atomic<std::uint32_t> state_{kIdle};
};

class Waitable : public KernelObject {
 public:
  using KernelObject::KernelObject;
  static bool IsKind(ObjectKind kind) {
    return kind == ObjectKind::kEvent || kind == ObjectKind::kThread;
  }

  // Guards the object's state and its waiters.
  std::mutex& Lock() const { return lock_; }
  // Both with Lock() held.
  virtual bool IsSignalled() const = 0;
  // Called on the object that satisfied a wait (an auto-reset event resets).
  virtual void Acquire() {}
  // Both with Lock() held.
  void AddWaiter(Waiter* waiter) { waiters_.push_back(waiter); }
  void RemoveWaiter(Waiter* waiter);

 protected:
  // With Lock() held, after a change that may satisfy a wait.
  void WakeWaiters(Wakeups& wakeups);

 private:
  mutable std::mutex lock_;
  std::vector<Waiter*> waiters_;
};

class Event final : public Waitable {
 public:
  Event(bool manualReset, bool initialState)
      : Waitable(ObjectKind::kEvent),
        manualReset_(manualReset),
        signalled_(initialState) {}
  static bool IsKind(ObjectKind kind) { return kind == ObjectKind::kEvent; }

  void Set();
  // Sets the event; its sleeping waiters are woken by `wakeups`.
  void Set(Wakeups& wakeups);
  void Reset();
  bool IsSignalled() const override { return signalled_; }
  void Acquire() override {
    if (!manualReset_) signalled_ = false;
  }

 private:
  const bool manualReset_;
  bool signalled_;
};

Handle Register(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> Lookup(Handle h);
// Removes the handle; returns the object, or null for an unknown handle.
std::shared_ptr<KernelObject> Unregister(Handle h);

// The object behind `h` when it is of type T, else null.
template <class T>
std::shared_ptr<T> LookupAs(Handle h) {
  std::shared_ptr<KernelObject> object = Lookup(h);
  if (!object || !T::IsKind(object->Kind())) return nullptr;
  return std::static_pointer_cast<T>(std::move(object));
}

// The calling thread's last error.
void SetLastErrorValue(std::uint32_t code);
std::uint32_t LastErrorValue();

}  // namespace comm::posix
