#include "framework/thread.h"

#include <system_error>

#include "framework/exception.h"
#include "framework/handle.h"
#include "framework/os_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fw {
namespace {

// The thread object whose body runs on this thread.
thread_local const TThread* tRunning = nullptr;

constexpr std::uint32_t kPumpInterval = 1000;

#ifdef _WIN32

void WaitOnUiThread(comm::Handle thread) {
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

void WaitOnUiThread(comm::Handle thread) {
  const comm::Handle handles[] = {thread, CallsWaitingEvent(),
                                  SentMessagesWaitingEvent()};
  for (;;) {
    const std::uint32_t result =
        comm::Api().WaitForMultipleObjects(3, handles, false, kPumpInterval);
    switch (result) {
      case comm::kWaitObject0 + 1:
        CheckSynchronize();
        break;
      case comm::kWaitObject0 + 2:
        PumpSentMessages();
        break;
      case comm::kWaitTimeout:
        break;
      default:
        return;  // the thread ended, or the wait failed
    }
  }
}

#endif

}  // namespace

void WaitForThreadHandle(comm::Handle thread) {
  if (IsMainThread()) {
    WaitOnUiThread(thread);
  } else {
    comm::Api().WaitForSingleObject(thread, comm::kInfinite);
  }
}

TThread::TThread(bool createSuspended) : createSuspended_(createSuspended) {
  comm::CommApi& api = comm::Api();
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

TThread::~TThread() {
  if (!started_) {
    // Never started: the body ends at once without running Execute.
    skipExecute_ = true;
    comm::Api().ResumeThread(handle_);
    started_ = true;
  } else if (!finished_) {
    Terminate();
  }
  // Always waited for, so the body is done with this object before it goes.
  WaitForThreadHandle(handle_);
  comm::Api().CloseHandle(handle_);
}

void TThread::AfterConstruction() {
  if (!createSuspended_) Start();
}

void TThread::Start() {
  if (started_)
    throw EThread(u"Cannot call Start on a running or finished thread");
  if (comm::Api().ResumeThread(handle_) == 0xFFFFFFFFu)
    throw EThread(ThreadErrorMessage(comm::Api().GetLastError()));
  started_ = true;
}

std::uint32_t TThread::WaitFor() {
  if (tRunning == this) throw EThread(u"A thread cannot wait for itself");
  if (!started_)
    throw EThread(u"Cannot wait for a thread that has not been started");
  WaitForThreadHandle(handle_);
  std::uint32_t code = 0;
  if (!comm::Api().GetExitCodeThread(handle_, &code))
    throw EThread(ThreadErrorMessage(comm::Api().GetLastError()));
  return code;
}

void TThread::SetPriority(int priority) {
  if (!comm::Api().SetThreadPriority(handle_, priority))
    throw EThread(ThreadErrorMessage(comm::Api().GetLastError()));
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
  // The last touch of this object: the owner may destroy it from here on.
  finished_ = true;
  return code;
}

}  // namespace fw
