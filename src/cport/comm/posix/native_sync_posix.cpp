// Events, waits and threads on POSIX, with Win32 outcomes.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "cport/comm/native_sync.h"
#include "cport/comm/posix/kernel_objects.h"

namespace cport::comm {
namespace {

using posix::Event;
using posix::Waitable;

// An operating-system thread that can be created suspended. It is signalled
// once its body has returned.
class Thread final : public Waitable {
 public:
  explicit Thread(std::function<std::uint32_t()> body)
      : Waitable(posix::ObjectKind::kThread), body_(std::move(body)) {}
  static bool IsKind(posix::ObjectKind kind) {
    return kind == posix::ObjectKind::kThread;
  }

  ~Thread() override { Release(); }

  void Start(const std::shared_ptr<Thread>& self, bool suspended) {
    resumed_ = !suspended;
    thread_ = std::thread([self] { self->Run(); });
  }

  std::uint32_t Resume() {
    std::lock_guard guard(Lock());
    std::uint32_t previous = resumed_ ? 0 : 1;
    resumed_ = true;
    started_.notify_all();
    return previous;
  }

  // The kernel's id of the thread, once it has begun to run.
  pid_t Tid() {
    std::unique_lock lock(Lock());
    started_.wait(lock, [this] { return tid_ != 0; });
    return tid_;
  }

  bool ExitCode(std::uint32_t* code) {
    std::lock_guard guard(Lock());
    *code = ended_ ? exitCode_ : kStillActive;
    return true;
  }

  bool IsSignalled() const override { return ended_; }
  void OnClose() override { Release(); }

 private:
  void Run() {
    {
      std::unique_lock lock(Lock());
      tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
      started_.notify_all();
      started_.wait(lock, [this] { return resumed_; });
    }
    std::uint32_t code = body_();
    posix::Wakeups wakeups;
    std::lock_guard guard(Lock());
    exitCode_ = code;
    ended_ = true;
    WakeWaiters(wakeups);
  }

  // Joins an ended thread; lets a running one go on by itself, as closing a
  // thread handle does on Windows.
  void Release() {
    if (!thread_.joinable()) return;
    bool ended;
    {
      std::lock_guard guard(Lock());
      ended = ended_;
    }
    if (ended && thread_.get_id() != std::this_thread::get_id()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  std::function<std::uint32_t()> body_;
  std::thread thread_;
  // Its start and its resumption (both with Lock() held).
  std::condition_variable started_;
  bool resumed_ = false;
  bool ended_ = false;
  pid_t tid_ = 0;
  std::uint32_t exitCode_ = 0;
};

// The objects of one wait. Each is locked only while it is checked (all of
// them together, in one fixed order, so that a wait for all of them takes
// them at one instant); in between the waiting thread sleeps on its own
// waiter, registered with every object it waits on.
class WaitSet {
 public:
  void Add(std::shared_ptr<Waitable> object) {
    objects_[count_] = object.get();
    if (count_ < kInline) {
      held_[count_] = std::move(object);
    } else {
      heldMore_.push_back(std::move(object));
    }
    ++count_;
  }

  std::uint32_t Wait(
      bool waitAll,
      std::optional<std::chrono::steady_clock::time_point> deadline) {
    SortLocks();
    std::uint32_t result = kWaitTimeout;
    std::shared_ptr<posix::InputSource> source;
    {
      Locked locked(*this);
      if (TryAcquire(waitAll, &result)) return result;
      if (deadline && *deadline <= std::chrono::steady_clock::now())
        return result;
      tWaiter.Forget();
      for (Waitable* object : unique()) {
        object->AddWaiter(&tWaiter);
        if (!source) source = object->Source();
      }
    }
    for (;;) {
      const bool woken = SleepOrWatch(source.get(), deadline);
      Locked locked(*this);
      if (TryAcquire(waitAll, &result) || !woken) {
        for (Waitable* object : unique()) object->RemoveWaiter(&tWaiter);
        return result;
      }
    }
  }

 private:
  // Holds the lock of every object of the set while it lives.
  class Locked {
   public:
    explicit Locked(WaitSet& set) : set_(set) {
      for (Waitable* object : set_.unique()) object->Lock().lock();
    }
    ~Locked() {
      for (Waitable* object : set_.unique()) object->Lock().unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    WaitSet& set_;
  };

  std::span<Waitable* const> unique() const { return {order_.data(), unique_}; }

  // Sleeps until woken, watching the input of the device behind one of the
  // objects when it has something waiting for input: the byte that ends
  // the wait then wakes this thread at once. Called with no lock held.
  static bool SleepOrWatch(
      posix::InputSource* source,
      std::optional<std::chrono::steady_clock::time_point> deadline) {
    const int fd = source != nullptr ? source->BeginInputWatch() : -1;
    if (fd < 0) return tWaiter.Sleep(deadline);
    short revents = 0;
    const bool woken = tWaiter.Watch(fd, deadline, &revents);
    source->EndInputWatch(revents);
    return woken;
  }

  // The distinct objects, in the order their locks are taken.
  void SortLocks() {
    std::copy_n(objects_.begin(), count_, order_.begin());
    std::sort(order_.begin(), order_.begin() + count_);
    unique_ = static_cast<std::size_t>(
        std::unique(order_.begin(), order_.begin() + count_) - order_.begin());
  }

  // With every lock held.
  bool TryAcquire(bool waitAll, std::uint32_t* result) {
    if (waitAll) {
      for (std::uint32_t i = 0; i < count_; ++i)
        if (!objects_[i]->IsSignalled()) return false;
      for (Waitable* object : unique()) object->Acquire();
      *result = kWaitObject0;
      return true;
    }
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (objects_[i]->IsSignalled()) {
        objects_[i]->Acquire();
        *result = kWaitObject0 + i;
        return true;
      }
    }
    return false;
  }

  static thread_local posix::Waiter tWaiter;

  // Most waits are for one or two objects: those are held without an
  // allocation.
  static constexpr std::uint32_t kInline = 4;
  std::array<std::shared_ptr<Waitable>, kInline> held_;
  std::vector<std::shared_ptr<Waitable>> heldMore_;
  std::array<Waitable*, kMaxWaitObjects> objects_;
  std::array<Waitable*, kMaxWaitObjects> order_;
  std::uint32_t count_ = 0;
  std::size_t unique_ = 0;
};

thread_local posix::Waiter WaitSet::tWaiter;

// Nice values nearest to the Win32 thread priorities.
int NiceFor(int priority) {
  switch (priority) {
    case kThreadPriorityIdle:
      return 19;
    case kThreadPriorityLowest:
      return 10;
    case kThreadPriorityBelowNormal:
      return 5;
    case kThreadPriorityNormal:
      return 0;
    case kThreadPriorityAboveNormal:
      return -5;
    case kThreadPriorityHighest:
      return -10;
    case kThreadPriorityTimeCritical:
      return -20;
    default:
      return 0;
  }
}

// When a wait of `milliseconds` ends; none for an infinite one.
std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(
    std::uint32_t milliseconds) {
  if (milliseconds == kInfinite) return std::nullopt;
  return std::chrono::steady_clock::now() +
         std::chrono::milliseconds(milliseconds);
}

bool Fail(std::uint32_t code) {
  posix::SetLastErrorValue(code);
  return false;
}

}  // namespace

bool NativeSync::CloseHandle(Handle h) {
  std::shared_ptr<posix::KernelObject> object = posix::Unregister(h);
  if (!object) return Fail(kErrorInvalidHandle);
  object->OnClose();
  return true;
}

std::uint32_t NativeSync::GetLastError() { return posix::LastErrorValue(); }

void NativeSync::SetLastError(std::uint32_t code) {
  posix::SetLastErrorValue(code);
}

Handle NativeSync::CreateEventW(bool manualReset, bool initialState) {
  return posix::Register(std::make_shared<Event>(manualReset, initialState));
}

bool NativeSync::SetEvent(Handle h) {
  auto event = posix::LookupAs<Event>(h);
  if (!event) return Fail(kErrorInvalidHandle);
  event->Set();
  return true;
}

bool NativeSync::ResetEvent(Handle h) {
  auto event = posix::LookupAs<Event>(h);
  if (!event) return Fail(kErrorInvalidHandle);
  event->Reset();
  return true;
}

std::uint32_t NativeSync::WaitForSingleObject(Handle h,
                                              std::uint32_t milliseconds) {
  auto object = posix::LookupAs<Waitable>(h);
  if (!object) {
    posix::SetLastErrorValue(kErrorInvalidHandle);
    return kWaitFailed;
  }
  // An object that is signalled already (the event of an operation that
  // ended at once) is taken without setting up a wait.
  {
    std::lock_guard guard(object->Lock());
    if (object->IsSignalled()) {
      object->Acquire();
      return kWaitObject0;
    }
  }
  WaitSet objects;
  objects.Add(std::move(object));
  return objects.Wait(false, DeadlineAfter(milliseconds));
}

std::uint32_t NativeSync::WaitForMultipleObjects(std::uint32_t count,
                                                 const Handle* handles,
                                                 bool waitAll,
                                                 std::uint32_t milliseconds) {
  if (count == 0 || count > kMaxWaitObjects) {
    posix::SetLastErrorValue(kErrorInvalidParameter);
    return kWaitFailed;
  }
  WaitSet objects;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto object = posix::LookupAs<Waitable>(handles[i]);
    if (!object) {
      posix::SetLastErrorValue(kErrorInvalidHandle);
      return kWaitFailed;
    }
    objects.Add(std::move(object));
  }
  return objects.Wait(waitAll, DeadlineAfter(milliseconds));
}

void NativeSync::Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

Handle NativeSync::CreateThread(std::function<std::uint32_t()> body,
                                bool suspended) {
  auto thread = std::make_shared<Thread>(std::move(body));
  thread->Start(thread, suspended);
  return posix::Register(thread);
}

std::uint32_t NativeSync::ResumeThread(Handle h) {
  auto thread = posix::LookupAs<Thread>(h);
  if (!thread) {
    posix::SetLastErrorValue(kErrorInvalidHandle);
    return 0xFFFFFFFFu;
  }
  return thread->Resume();
}

bool NativeSync::SetThreadPriority(Handle h, int priority) {
  auto thread = posix::LookupAs<Thread>(h);
  if (!thread) return Fail(kErrorInvalidHandle);
  if (priority == kThreadPriorityNormal) return true;
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(thread->Tid()),
                    NiceFor(priority)) != 0) {
    return Fail(static_cast<std::uint32_t>(errno));
  }
  return true;
}

bool NativeSync::GetExitCodeThread(Handle h, std::uint32_t* exitCode) {
  auto thread = posix::LookupAs<Thread>(h);
  if (!thread) return Fail(kErrorInvalidHandle);
  return thread->ExitCode(exitCode);
}

std::u16string NativeSync::FormatMessageW(std::uint32_t code) {
  char buffer[256] = {};
  const char* text =
      ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  std::u16string result;
  for (const char* p = text; *p != '\0'; ++p)
    result.push_back(static_cast<unsigned char>(*p));
  return result;
}

}  // namespace cport::comm
