// Handles on POSIX: one process-wide table of the objects that Win32 would
// keep in the kernel (events, threads, devices). Handle values are never
// reused, so a stale handle fails as invalid instead of reaching a new object.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/comm_api.h"

namespace comm::posix {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Runs once, when the last handle to the object is closed.
  virtual void OnClose() {}
};

// The one lock that guards the state of every waitable object, and the
// condition on which every wait sleeps. A state change notifies all waiters;
// each re-checks its own objects.
std::mutex& WaitLock();
std::condition_variable& WaitCondition();

class Waitable : public KernelObject {
 public:
  // Both with WaitLock() held.
  virtual bool IsSignalled() const = 0;
  // Called on the object that satisfied a wait (an auto-reset event resets).
  virtual void Acquire() {}
};

class Event final : public Waitable {
 public:
  Event(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}
  void Set();
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

template <class T>
std::shared_ptr<T> LookupAs(Handle h) {
  return std::dynamic_pointer_cast<T>(Lookup(h));
}

// The calling thread's last error.
void SetLastErrorValue(std::uint32_t code);
std::uint32_t LastErrorValue();

}  // namespace comm::posix
