// Start and stop of the event thread and of the hidden window that the
// window delivery mode needs.
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
  if (FEventThread->DeliveringOnThisThread()) {
    // Closed from one of the thread's own notifications: waiting here
    // would wait for this very handler. The thread clears the driver now
    // and ends by itself once the delivery returns; it is joined later.
    FEventThread->StopFromDelivery();
    FRetiredThreads.push_back(std::move(FEventThread));
  } else {
    FEventThread.reset();
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
