// Start and stop of the event thread and of the hidden window that the
// window delivery mode needs.
#include "cport/comport.h"
#include "cport/comthread.h"

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
  FEventThread.reset();
  FThreadCreated = false;
  DeallocateWindow(FWindow);
  FWindow = 0;
}

}  // namespace cport
