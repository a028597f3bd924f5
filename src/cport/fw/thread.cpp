#include "cport/fw/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "cport/fw/exception.h"
#include "cport/fw/handle.h"
#include "cport/fw/os_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace cport::fw {
namespace {

// The thread object whose body runs on this thread.
thread_local const TThread* tRunning = nullptr;

constexpr std::uint32_t kPumpInterval = 1000;

// The threads given to FreeOnTerminate that have not been destroyed yet.
struct FreedThreads {
  std::mutex lock;
  std::condition_variable gone;
  int running = 0;
};

FreedThreads& Freed() {
  static FreedThreads freed;
  return freed;
}

#ifdef _WIN32

void WaitOnUiThread(cport::comm::Handle thread) {
  const HANDLE handles[] = {
      reinterpret_cast<HANDLE>(thread),
      reinterpret_cast<HANDLE>(CallsWaitingEvent()),
      reinterpret_cast<HANDLE>(SentMessagesWaitingEvent())};
  constexpr DWORD kCount = 3;
  bool peek = false;
  for (;;) {
    // A message sent through the window system is handled while peeking.
    if (peek) PumpSentMessages();
    peek = false;
    const DWORD result = ::MsgWaitForMultipleObjects(
        kCount, handles, FALSE, kPumpInterval, QS_SENDMESSAGE);
    switch (result) {
      case WAIT_OBJECT_0 + 1:
        CheckSynchronize();
        break;
      case WAIT_OBJECT_0 + 2:
        ProcessSentMessages();
        break;
      case WAIT_OBJECT_0 + kCount:
        peek = true;
        break;
      case WAIT_TIMEOUT:
        break;
      default:
        return;  // the thread ended, or the wait failed
    }
  }
}

#else

void WaitOnUiThread(cport::comm::Handle thread) {
  const cport::comm::Handle handles[] = {thread, CallsWaitingEvent(),
                                         SentMessagesWaitingEvent()};
  for (;;) {
    const std::uint32_t result = cport::comm::Api().WaitForMultipleObjects(
        3, handles, false, kPumpInterval);
    switch (result) {
      case cport::comm::kWaitObject0 + 1:
        CheckSynchronize();
        break;
      case cport::comm::kWaitObject0 + 2:
        PumpSentMessages();
        break;
      case cport::comm::kWaitTimeout:
        break;
      default:
        return;  // the thread ended, or the wait failed
    }
  }
}

#endif

}  // namespace

void WaitForThreadHandle(cport::comm::Handle thread) {
  if (IsMainThread()) {
    WaitOnUiThread(thread);
  } else {
    cport::comm::Api().WaitForSingleObject(thread, cport::comm::kInfinite);
  }
}

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {
  cport::comm::CommApi& api = cport::comm::Api();
  std::uint32_t error = 0;
  try {
    handle_ = api.CreateThread([this] { return Body(); }, true);
    if (handle_ == 0) error = api.GetLastError();
  } catch (const std::system_error& e) {
    error = static_cast<std::uint32_t>(e.code().value());
  }
  if (handle_ == 0)
    throw EThread(u"Thread creation error: " + SysErrorMessage(error));
}

bool WaitForFreedThreads(std::uint32_t milliseconds) {
  FreedThreads& freed = Freed();
  std::unique_lock lock(freed.lock);
  return freed.gone.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return freed.running == 0; });
}

TThread::~TThread() {
  if (!started_) {
    // Never started: the body ends at once without running Execute.
    skipExecute_ = true;
    cport::comm::Api().ResumeThread(handle_);
    started_ = true;
  } else if (!finished_) {
    Terminate();
  }
  // Always waited for, so the body is done with this object before it goes;
  // destroyed by its own body (FreeOnTerminate), it is done already.
  if (!IsCurrentThread()) WaitForThreadHandle(handle_);
  cport::comm::Api().CloseHandle(handle_);
}

void TThread::FreeOnTerminate(std::unique_ptr<TThread> thread) {
  if (!thread) return;
  {
    FreedThreads& freed = Freed();
    std::lock_guard guard(freed.lock);
    ++freed.running;
  }
  // A thread never started ends at once in the destructor.
  if (!thread->started_) thread->handOvers_ = 1;
  thread.release()->HandOver();
}

void TThread::HandOver() {
  if (handOvers_.fetch_add(1) != 1) return;
  delete this;
  FreedThreads& freed = Freed();
  {
    std::lock_guard guard(freed.lock);
    --freed.running;
  }
  freed.gone.notify_all();
}

bool TThread::IsCurrentThread() const { return tRunning == this; }

void TThread::AfterConstruction() {
  if (!createSuspended_) Start();
}

void TThread::Start() {
  if (started_)
    throw EThread(u"Cannot call Start on a running or finished thread");
  if (cport::comm::Api().ResumeThread(handle_) == 0xFFFFFFFFu)
    throw EThread(ThreadErrorMessage(cport::comm::Api().GetLastError()));
  started_ = true;
}

std::uint32_t TThread::WaitFor() {
  if (tRunning == this) throw EThread(u"A thread cannot wait for itself");
  if (!started_)
    throw EThread(u"Cannot wait for a thread that has not been started");
  WaitForThreadHandle(handle_);
  std::uint32_t code = 0;
  if (!cport::comm::Api().GetExitCodeThread(handle_, &code))
    throw EThread(ThreadErrorMessage(cport::comm::Api().GetLastError()));
  return code;
}

void TThread::SetPriority(int priority) {
  if (!cport::comm::Api().SetThreadPriority(handle_, priority))
    throw EThread(ThreadErrorMessage(cport::comm::Api().GetLastError()));
}

std::exception_ptr TThread::FatalException() const {
  return finished_ ? fatalException_ : nullptr;
}

std::uint32_t TThread::Body() {
  tRunning = this;
  if (!skipExecute_) {
    try {
      Execute();
    } catch (...) {
      fatalException_ = std::current_exception();
    }
  }
  const std::uint32_t code = returnValue_;
  // An owner that keeps the object waits for the thread's end before it
  // destroys it; one that gave it up (FreeOnTerminate) leaves that to here.
  finished_ = true;
  HandOver();
  return code;
}

}  // namespace cport::fw
