// Start and stop of the event thread and of the hidden window that the
// window delivery mode needs.
#include <memory>
#include <vector>

#include "cport/comport.h"
#include "cport/comthread.h"
#include "cport/port_window.h"

namespace cport {

void TCustomComPort::StartEventThread() {
  FThreadCreated = false;
  if (FEvents.Empty()) return;
  if (FSyncMethod == smWindowSync)
    FWindow =
        AllocateWindow([this](TMessage& Message) { PortWindowProc(Message); });
  try {
    FEventThread = TComThread::Create(this);
  } catch (...) {
    // The port stays open without notifications; nothing is left behind.
    DeallocateWindow(FWindow);
    FWindow = 0;
    throw;
  }
  FThreadCreated = true;
}

void TCustomComPort::StopEventThread() {
  // The thread first: a delivery under way may still use the window.
  if (FStoppingThread != nullptr) {
    // Destroyed by a handler that the wait below runs. A thread that waits
    // for this very delivery drops the rest of its report and ends after
    // it; any other may still use the port, so it is waited for here.
    if (FStoppingThread->DeliveringOnThisThread()) {
      FStoppingThread->StopFromDelivery();
    } else {
      cport::fw::WaitForThreadHandle(FStoppingThread->Handle());
    }
  } else if (FEventThread->DeliveringOnThisThread()) {
    // Closed from one of the thread's own notifications: waiting here
    // would wait for this very handler. The thread clears the driver now
    // and ends by itself once the delivery returns; it is joined later.
    FEventThread->StopFromDelivery();
    FRetiredThreads.push_back(std::move(FEventThread));
  } else {
    // The wait runs the deliveries the thread has queued already; when one
    // of their handlers destroys the port, the destructor finishes the stop
    // (above) and this returns without touching the port.
    const Watch watch(this);
    std::unique_ptr<TComThread> thread = std::move(FEventThread);
    FStoppingThread = thread.get();
    thread.reset();
    if (watch.PortGone()) return;
    FStoppingThread = nullptr;
  }
  FThreadCreated = false;
  DeallocateWindow(FWindow);
  FWindow = 0;
}

void TCustomComPort::JoinRetiredThreads() {
  std::erase_if(FRetiredThreads, [](const std::unique_ptr<TComThread>& thread) {
    return !thread->DeliveringOnThisThread();
  });
}

void TCustomComPort::ReleaseRetiredThreads() {
  JoinRetiredThreads();
  for (std::unique_ptr<TComThread>& thread : FRetiredThreads)
    cport::fw::TThread::FreeOnTerminate(std::move(thread));
  FRetiredThreads.clear();
}

}  // namespace cport
