#include "cport/comthread.h"

#include "cport/comport.h"
#include "cport/event_mask.h"
#include "cport/port_window.h"
#include "platform/comm_api.h"

namespace cport {

std::unique_ptr<TComThread> TComThread::Create(TCustomComPort* AComPort) {
  std::unique_ptr<TComThread> thread(new TComThread(AComPort));
  thread->Start();
  thread->FStarted = true;
  return thread;
}

TComThread::TComThread(TCustomComPort* AComPort)
    : fw::TThread(true), FComPort(AComPort) {
  FStopEvent.emplace(fw::CreateManualResetEvent());
  SetPriority(kThreadPriorities[AComPort->EventThreadPriority()]);
  // The result is not examined: a device that refuses the mask simply
  // reports nothing.
  comm::Api().SetCommMask(AComPort->FHandle, EventsToMask(AComPort->Events()));
}

TComThread::~TComThread() {
  SignalStop();
  // A thread that never started ends in the base destructor without
  // running Execute.
  if (!FStarted) return;
  if (!Finished()) Terminate();
  fw::WaitForThreadHandle(Handle());
}

void TComThread::SignalStop() {
  {
    std::lock_guard guard(FStopLock);
    if (FStopEvent) comm::Api().SetEvent(FStopEvent->Get());
  }
  comm::Api().Sleep(0);
}

void TComThread::CloseStopEvent() {
  std::lock_guard guard(FStopLock);
  FStopEvent.reset();
}

void TComThread::Execute() {
  comm::CommApi& api = comm::Api();
  const comm::Handle device = FComPort->FHandle;
  // Released on every way out, an exception from a delivery included.
  std::optional<fw::OwnedHandle> waitEvent;
  waitEvent.emplace(api.CreateEventW(true, true));
  comm::Overlapped overlapped{};
  overlapped.hEvent = waitEvent->Get();
  // Only this thread closes the stop event, so it may read it unlocked.
  const comm::Handle handles[2] = {FStopEvent->Get(), waitEvent->Get()};
  std::uint32_t mask = 0;
  for (;;) {
    // Reset first, so a wait the driver refuses at once leaves the thread
    // blocked until it is stopped instead of spinning on a stale signal.
    api.ResetEvent(overlapped.hEvent);
    api.WaitCommEvent(device, &mask, &overlapped);
    if (api.WaitForMultipleObjects(2, handles, false, comm::kInfinite) !=
        comm::kWaitObject0 + 1)
      break;  // stopped, or the wait failed
    std::uint32_t transferred = 0;
    if (api.GetOverlappedResult(device, &overlapped, &transferred, false)) {
      FEvents = MaskToEvents(mask);
      DeliverEvents();
    }
  }
  api.SetCommMask(device, 0);
  api.PurgeComm(device, comm::kPurgeTxClear | comm::kPurgeRxClear);
  waitEvent.reset();
  CloseStopEvent();
}

void TComThread::DeliverEvents() {
  switch (FComPort->FSyncMethod) {
    case smThreadSync:
      Synchronize([this] { RunEventHandlers(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      RunEventHandlers();
      break;
  }
}

void TComThread::RunEventHandlers() {
  for (TComEvent event : kEventOrder) {
    if (FEvents.Contains(event)) FComPort->HandleEvent(event);
  }
}

void TComThread::SendEventMessages() {
  for (TComEvent event : kEventOrder) {
    if (FEvents.Contains(event))
      SendWindowMessage(FComPort->FWindow, kPortEventMessage,
                        EventsToMask({event}), 0);
  }
}

}  // namespace cport
