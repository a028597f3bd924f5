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

#include "cport/comm/comm_api.h"
#include "cport/comm/posix/unique_fd.h"

namespace cport::comm::posix {

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
  // Its handle has been closed (the object may live on while a call that
  // found it before still runs).
  bool HandleClosed() const {
    return handleClosed_.load(std::memory_order_acquire);
  }
  void MarkHandleClosed() {
    handleClosed_.store(true, std::memory_order_release);
  }

 private:
  const ObjectKind kind_;
  std::atomic<bool> handleClosed_{false};
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
  // A thread asleep on its word.
  void Add(std::atomic<std::uint32_t>* word);
  // A thread asleep in poll() on its kick descriptor; the descriptor is
  // kept open until the kick has been given.
  void Add(std::shared_ptr<const UniqueFd> kick);

 private:
  std::array<std::atomic<std::uint32_t>*, 4> words_{};
  std::size_t count_ = 0;
  std::vector<std::atomic<std::uint32_t>*> more_;
  std::vector<std::shared_ptr<const UniqueFd>> kicks_;
};

// A thread blocked in a wait, woken by any object it is registered with.
// It sleeps in the kernel on its own word: a wake-up costs the waker one
// system call, and none when the thread is not asleep. While it watches a
// device's input for itself it sleeps in poll() instead, and is woken
// through a descriptor of its own.
class Waiter {
 public:
  // Marks the waiter as woken; its thread, when asleep, is woken by
  // `wakeups`. Called with the lock of an object the waiter is registered
  // with held: the waiter cannot leave its wait without that lock.
  void Wake(Wakeups& wakeups);
  // Forgets a wake-up left over from an earlier wait; called before the
  // waiter registers for a new one.
  void Forget() { state_.store(kIdle, std::memory_order_relaxed); }
  // Sleeps until woken or until `deadline` passes; returns false on the
  // deadline. Clears the woken mark before it returns.
  bool Sleep(std::optional<std::chrono::steady_clock::time_point> deadline);
  // Sleeps as Sleep does, and also until `fd` has input (or has hung up):
  // `*revents` gets what poll() reported for it. Returns false only when
  // the deadline passed with neither.
  bool Watch(int fd,
             std::optional<std::chrono::steady_clock::time_point> deadline,
             short* revents);

 private:
  enum : std::uint32_t { kIdle, kWoken, kAsleep, kWatching };
  std::atomic<std::uint32_t> state_{kIdle};
  // Made by the waiter's thread before it first watches, and read by a
  // waker only once it has seen the waiter watching.
  std::shared_ptr<const UniqueFd> kick_;
};

// A device whose input a thread waiting on one of its operations' events
// may watch for itself: a received byte that ends the wait then wakes that
// thread directly, not the device's own thread first.
class InputSource : public std::enable_shared_from_this<InputSource> {
 public:
  // The descriptor to watch for input, with the device's own thread no
  // longer watching it; -1 when nothing waits for input or another thread
  // watches already. Every watch begun is ended by EndInputWatch.
  virtual int BeginInputWatch() = 0;
  // Takes in what the watch saw (`revents` of poll(), 0 for nothing) and
  // hands the input back to the device's thread.
  virtual void EndInputWatch(short revents) = 0;

 protected:
  ~InputSource() = default;
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
  // With Lock() held: the device whose input would signal the object.
  virtual std::shared_ptr<InputSource> Source() const { return nullptr; }
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
  bool IsSignalled() const override {
    return signalled_.load(std::memory_order_relaxed);
  }
  void Acquire() override {
    if (!manualReset_) signalled_.store(false, std::memory_order_relaxed);
  }
  // The device whose pending operation sets the event.
  void SetSource(std::weak_ptr<InputSource> source);
  std::shared_ptr<InputSource> Source() const override {
    return source_.lock();
  }

 private:
  const bool manualReset_;
  // Changed with Lock() held; Reset reads it without the lock.
  std::atomic<bool> signalled_;
  std::weak_ptr<InputSource> source_;  // guarded by Lock()
};

Handle Register(std::shared_ptr<KernelObject> object);
// The object behind an open handle, or null. Each thread remembers the few
// handles it made or looked up last, so that a series of calls on one port
// and its records' events does not take the table's lock each time.
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

}  // namespace cport::comm::posix
