// Handling of the events the event thread reports: each one tells the links
// and fires the port's own event, on the thread that delivers the report.
#include <algorithm>
#include <exception>
#include <vector>

#include "cport/comport.h"
#include "cport/comthread.h"
#include "cport/event_mask.h"
#include "cport/fw/application.h"
#include "cport/port_window.h"

namespace cport {

void TCustomComPort::HandleEvent(TComEvent Event) {
  switch (Event) {
    case evError:
      return HandleError();
    case evRxChar:
      return HandleRxChar();
    case evTxEmpty:
      return HandleTxEmpty();
    case evBreak:
      return HandleBreak();
    case evRing:
      return HandleRing();
    case evCTS:
      return HandleCTSChange();
    case evDSR:
      return HandleDSRChange();
    case evRxFlag:
      return HandleRxFlag();
    case evRLSD:
      return HandleRLSDChange();
    case evRx80Full:
      return HandleRx80Full();
  }
}

void TCustomComPort::HandleRxChar() {
  const std::int32_t Count = InputCount();
  if (Count <= 0) return;
  if (!TellLinks(&TComLink::OnRx, true)) return;
  // With a reader of whole buffers the port reads the data itself and
  // OnRxChar is not called; otherwise the data stays queued for OnRxChar.
  if (!TriggersOnRxChar() && DeliverRxBuf(Count)) return;
  FireRxChar(Count);
}

bool TCustomComPort::DeliverRxBuf(std::int32_t Count) {
  const Watch watch(this);
  std::vector<std::uint8_t> buffer;
  std::int32_t received = 0;
  bool read = false;
  // Reads once, on first need; the port's own OnRxBuf comes first. Only
  // the bytes actually received are handed on, and none means no call.
  // False when a handler destroyed the port.
  auto readOnce = [&] {
    if (read) return true;
    read = true;
    buffer.resize(static_cast<std::size_t>(Count));
    received = std::clamp(Read(buffer.data(), Count), 0, Count);
    if (watch.PortGone()) return false;
    if (received > 0) FireRxBuf(buffer.data(), received);
    return !watch.PortGone();
  };
  // The links of the report, each looked up again before it is told.
  const std::vector<TComLink*> links = FLinks;
  for (TComLink* link : links) {
    if (!IsRegistered(link) || !link->OnRxBuf()) continue;
    if (!readOnce()) return true;
    if (received > 0)
      cport::fw::Fire(link->OnRxBuf(), this, buffer.data(), received);
    if (watch.PortGone()) return true;
  }
  if (!read && !FTriggersOnRxChar) readOnce();
  return read;
}

void TCustomComPort::HandleTxEmpty() {
  if (TellLinks(&TComLink::OnTx, false) && TellLinks(&TComLink::OnTxEmpty))
    FireTxEmpty();
}

void TCustomComPort::HandleRxFlag() {
  if (TellLinks(&TComLink::OnRxFlag)) FireRxFlag();
}

void TCustomComPort::HandleBreak() { FireBreak(); }

void TCustomComPort::HandleRing() {
  if (TellLinks(&TComLink::OnRing)) FireRing();
}

void TCustomComPort::HandleError() {
  const TComErrors Errors = LastErrors();
  if (!Errors.Empty()) FireError(Errors);
}

void TCustomComPort::HandleRx80Full() { FireRx80Full(); }

void TCustomComPort::PortWindowProc(TMessage& Message) {
  if (Message.Msg != kPortEventMessage) {
    Message.Result = DefWindowProc(FWindow, Message);
    return;
  }
  try {
    // The event thread goes on at once while the handling runs here.
    if (InSendMessage()) ReplyMessage(0);
    if (!FConnected) return;
    for (TComEvent event : kEventOrder) {
      if (EventsToMask({event}) == Message.WParam) return HandleEvent(event);
    }
  } catch (...) {
    // Nothing waits for this message any more: the error goes to the
    // program-wide display, and without an application it has none.
    if (cport::fw::TApplication* app = cport::fw::Application())
      app->HandleException(std::current_exception());
  }
}

}  // namespace cport
