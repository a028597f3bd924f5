// Events, waits and threads on POSIX, with Win32 outcomes.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/native_sync.h"
#include "platform/posix/kernel_objects.h"

namespace comm {
namespace {

using posix::Event;
using posix::Waitable;

// An operating-system thread that can be created suspended. It is signalled
// once its body has returned.
class Thread final : public Waitable {
 public:
  explicit Thread(std::function<std::uint32_t()> body)
      : body_(std::move(body)) {}

  ~Thread() override { Release(); }

  void Start(const std::shared_ptr<Thread>& self, bool suspended) {
    resumed_ = !suspended;
    thread_ = std::thread([self] { self->Run(); });
  }

  std::uint32_t Resume() {
    std::lock_guard guard(posix::WaitLock());
    std::uint32_t previous = resumed_ ? 0 : 1;
    resumed_ = true;
    posix::WaitCondition().notify_all();
    return previous;
  }

  // The kernel's id of the thread, once it has begun to run.
  pid_t Tid() {
    std::unique_lock lock(posix::WaitLock());
    posix::WaitCondition().wait(lock, [this] { return tid_ != 0; });
    return tid_;
  }

  bool ExitCode(std::uint32_t* code) {
    std::lock_guard guard(posix::WaitLock());
    *code = ended_ ? exitCode_ : kStillActive;
    return true;
  }

  bool IsSignalled() const override { return ended_; }
  void OnClose() override { Release(); }

 private:
  void Run() {
    {
      std::unique_lock lock(posix::WaitLock());
      tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
      posix::WaitCondition().notify_all();
      posix::WaitCondition().wait(lock, [this] { return resumed_; });
    }
    std::uint32_t code = body_();
    {
      std::lock_guard guard(posix::WaitLock());
      exitCode_ = code;
      ended_ = true;
    }
    posix::WaitCondition().notify_all();
  }

  // Joins an ended thread; lets a running one go on by itself, as closing a
  // thread handle does on Windows.
  void Release() {
    if (!thread_.joinable()) return;
    bool ended;
    {
      std::lock_guard guard(posix::WaitLock());
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
  bool resumed_ = false;
  bool ended_ = false;
  pid_t tid_ = 0;
  std::uint32_t exitCode_ = 0;
};

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
  return WaitForMultipleObjects(1, &h, false, milliseconds);
}

std::uint32_t NativeSync::WaitForMultipleObjects(std::uint32_t count,
                                                 const Handle* handles,
                                                 bool waitAll,
                                                 std::uint32_t milliseconds) {
  if (count == 0 || count > kMaxWaitObjects) {
    posix::SetLastErrorValue(kErrorInvalidParameter);
    return kWaitFailed;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto object = posix::LookupAs<Waitable>(handles[i]);
    if (!object) {
      posix::SetLastErrorValue(kErrorInvalidHandle);
      return kWaitFailed;
    }
    objects.push_back(std::move(object));
  }
  std::uint32_t result = kWaitTimeout;
  auto satisfied = [&] {
    if (waitAll) {
      for (auto& object : objects)
        if (!object->IsSignalled()) return false;
      for (auto& object : objects) object->Acquire();
      result = kWaitObject0;
      return true;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      if (objects[i]->IsSignalled()) {
        objects[i]->Acquire();
        result = kWaitObject0 + i;
        return true;
      }
    }
    return false;
  };
  std::unique_lock lock(posix::WaitLock());
  if (milliseconds == kInfinite) {
    posix::WaitCondition().wait(lock, satisfied);
  } else {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(milliseconds);
    posix::WaitCondition().wait_until(lock, deadline, satisfied);
  }
  return result;
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

}  // namespace comm
