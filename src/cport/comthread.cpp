#include "cport/comthread.h"

#include "cport/comm/comm_api.h"
#include "cport/comport.h"
#include "cport/event_mask.h"
#include "cport/port_window.h"

namespace cport {
namespace {

// The deliveries in progress on this thread, innermost first: a delivery
// may run another one nested (a handler that processes messages).
struct DeliveryScope {
  const TComThread* Thread;
  const DeliveryScope* Outer;
};
thread_local const DeliveryScope* tDeliveries = nullptr;

// Marks a delivery of `thread` as in progress on this thread while it lives.
class DeliveryMark {
 public:
  explicit DeliveryMark(const TComThread* thread)
      : scope_{thread, tDeliveries} {
    tDeliveries = &scope_;
  }
  ~DeliveryMark() { tDeliveries = scope_.Outer; }
  DeliveryMark(const DeliveryMark&) = delete;
  DeliveryMark& operator=(const DeliveryMark&) = delete;

 private:
  const DeliveryScope scope_;
};

}  // namespace

std::unique_ptr<TComThread> TComThread::Create(TCustomComPort* AComPort) {
  std::unique_ptr<TComThread> thread(new TComThread(AComPort));
  thread->Start();
  thread->FStarted = true;
  return thread;
}

TComThread::TComThread(TCustomComPort* AComPort)
    : cport::fw::TThread(true), FComPort(AComPort), FDevice(AComPort->FHandle) {
  FStopEvent.emplace(cport::fw::CreateManualResetEvent());
  SetPriority(kThreadPriorities[AComPort->EventThreadPriority()]);
  // The result is not examined: a device that refuses the mask simply
  // reports nothing.
  cport::comm::Api().SetCommMask(FDevice, EventsToMask(AComPort->Events()));
}

TComThread::~TComThread() {
  SignalStop();
  // A thread that never started ends in the base destructor without
  // running Execute; one that destroys itself has left Execute already.
  if (!FStarted || IsCurrentThread()) return;
  if (!Finished()) Terminate();
  cport::fw::WaitForThreadHandle(Handle());
}

bool TComThread::DeliveringOnThisThread() const {
  for (const DeliveryScope* scope = tDeliveries; scope != nullptr;
       scope = scope->Outer) {
    if (scope->Thread == this) return true;
  }
  return false;
}

void TComThread::StopFromDelivery() {
  FRetired = true;
  // No wait is armed during a delivery, so the device is free for the exit
  // steps; the caller may close it as soon as this returns.
  ClearDriver();
  SignalStop();
}

void TComThread::SignalStop() {
  {
    std::lock_guard guard(FStopLock);
    if (FStopEvent) cport::comm::Api().SetEvent(FStopEvent->Get());
  }
  cport::comm::Api().Sleep(0);
}

void TComThread::CloseStopEvent() {
  std::lock_guard guard(FStopLock);
  FStopEvent.reset();
}

void TComThread::Execute() {
  cport::comm::CommApi& api = cport::comm::Api();
  // Released on every way out, an exception from a delivery included.
  std::optional<cport::fw::OwnedHandle> waitEvent;
  waitEvent.emplace(api.CreateEventW(true, true));
  cport::comm::Overlapped overlapped{};
  overlapped.hEvent = waitEvent->Get();
  // Only this thread closes the stop event, so it may read it unlocked.
  const cport::comm::Handle handles[2] = {FStopEvent->Get(), waitEvent->Get()};
  std::uint32_t mask = 0;
  for (;;) {
    // Reset first, so a wait the driver refuses at once leaves the thread
    // blocked until it is stopped instead of spinning on a stale signal.
    api.ResetEvent(overlapped.hEvent);
    api.WaitCommEvent(FDevice, &mask, &overlapped);
    if (api.WaitForMultipleObjects(2, handles, false, cport::comm::kInfinite) !=
        cport::comm::kWaitObject0 + 1)
      break;  // stopped, or the wait failed
    std::uint32_t transferred = 0;
    if (api.GetOverlappedResult(FDevice, &overlapped, &transferred, false)) {
      FEvents = MaskToEvents(mask);
      DeliverEvents();
      // Stopped from inside the delivery: the driver is cleared, the device
      // may be closed and the port gone, so neither is touched again.
      if (FRetired) break;
    }
  }
  if (!FRetired) ClearDriver();
  waitEvent.reset();
  CloseStopEvent();
}

void TComThread::ClearDriver() {
  cport::comm::CommApi& api = cport::comm::Api();
  api.SetCommMask(FDevice, 0);
  api.PurgeComm(FDevice,
                cport::comm::kPurgeTxClear | cport::comm::kPurgeRxClear);
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
  const DeliveryMark mark(this);
  for (TComEvent event : kEventOrder) {
    // A handler that closed the port drops the rest of the report.
    if (FRetired) return;
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
