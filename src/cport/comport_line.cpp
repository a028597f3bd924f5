// Status queries, line controls, purges and the one-shot event wait.
#include <array>
#include <utility>

#include "cport/comport.h"
#include "cport/event_mask.h"

namespace cport {

bool TCustomComPort::RaiseLastError(std::uint16_t code) {
  return RaisePortError(code, cport::comm::Api().GetLastError());
}

// Reported failures leave a zeroed status and no errors.
cport::comm::ComStat TCustomComPort::ClearCommError(std::uint32_t* errors) {
  cport::comm::ComStat stat;
  std::uint32_t flags = 0;
  if (!cport::comm::Api().ClearCommError(FHandle, &flags, &stat)) {
    RaiseLastError(CodeOf(CE_ClearComFailed));
    stat = {};
    flags = 0;
  }
  if (errors != nullptr) *errors = flags;
  return stat;
}

std::int32_t TCustomComPort::InputCount() {
  return static_cast<std::int32_t>(ClearCommError(nullptr).cbInQue);
}

std::int32_t TCustomComPort::OutputCount() {
  return static_cast<std::int32_t>(ClearCommError(nullptr).cbOutQue);
}

TComStateFlags TCustomComPort::StateFlags() {
  return TComStateFlags::FromBits(
      static_cast<std::uint8_t>(ClearCommError(nullptr).Flags & 0x7F));
}

TComErrors TCustomComPort::LastErrors() {
  static constexpr std::array<std::pair<std::uint32_t, TComError>, 8> kMap = {{
      {cport::comm::kCeFrame, ceFrame},
      {cport::comm::kCeRxParity, ceRxParity},
      {cport::comm::kCeOverrun, ceOverrun},
      {cport::comm::kCeBreak, ceBreak},
      {cport::comm::kCeIoe, ceIO},
      {cport::comm::kCeMode, ceMode},
      {cport::comm::kCeRxOver, ceRxOver},
      {cport::comm::kCeTxFull, ceTxFull},
  }};
  std::uint32_t flags = 0;
  if (!InTurn([&] { ClearCommError(&flags); })) return {};
  // A parity error means something only while parity is being checked.
  if (!FParity->Check()) flags &= ~cport::comm::kCeRxParity;
  TComErrors errors;
  for (const auto& [bit, error] : kMap) {
    if ((flags & bit) != 0) errors.Include(error);
  }
  return errors;
}

TComSignals TCustomComPort::Signals() {
  static constexpr std::array<std::pair<std::uint32_t, TComSignal>, 4> kMap = {
      {{cport::comm::kMsCtsOn, csCTS},
       {cport::comm::kMsDsrOn, csDSR},
       {cport::comm::kMsRingOn, csRing},
       {cport::comm::kMsRlsdOn, csRLSD}}};
  std::uint32_t status = 0;
  if (!cport::comm::Api().GetCommModemStatus(FHandle, &status)) {
    RaiseLastError(CodeOf(CE_ModemStatFailed));
    status = 0;
  }
  TComSignals signals;
  for (const auto& [bit, signal] : kMap) {
    if ((status & bit) != 0) signals.Include(signal);
  }
  return signals;
}

void TCustomComPort::Escape(std::uint32_t func) {
  if (!cport::comm::Api().EscapeCommFunction(FHandle, func))
    RaiseLastError(CodeOf(CE_EscapeComFailed));
}

void TCustomComPort::SetDTR(bool OnOff) {
  Escape(OnOff ? cport::comm::kSetDtr : cport::comm::kClrDtr);
}
void TCustomComPort::SetRTS(bool OnOff) {
  Escape(OnOff ? cport::comm::kSetRts : cport::comm::kClrRts);
}
void TCustomComPort::SetXonXoff(bool OnOff) {
  Escape(OnOff ? cport::comm::kSetXon : cport::comm::kSetXoff);
}
void TCustomComPort::SetBreak(bool OnOff) {
  Escape(OnOff ? cport::comm::kSetBreak : cport::comm::kClrBreak);
}

void TCustomComPort::Purge(std::uint32_t flags) {
  if (!cport::comm::Api().PurgeComm(FHandle, flags))
    RaiseLastError(CodeOf(CE_PurgeFailed));
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  Purge((Input ? cport::comm::kPurgeRxClear : 0u) |
        (Output ? cport::comm::kPurgeTxClear : 0u));
}

void TCustomComPort::AbortAllAsync() {
  Purge(cport::comm::kPurgeTxAbort | cport::comm::kPurgeRxAbort);
}

void TCustomComPort::TransmitChar(char16_t Ch) {
  if (!cport::comm::Api().TransmitCommChar(FHandle,
                                           static_cast<char>(Ch & 0xFF)))
    RaiseLastError(CodeOf(CE_TransmitFailed));
}

namespace {

// An event handle closed at the end of its scope.
class ScopedEvent {
 public:
  ScopedEvent() : handle_(cport::comm::Api().CreateEventW(true, false)) {}
  ~ScopedEvent() {
    if (handle_ != 0) cport::comm::Api().CloseHandle(handle_);
  }
  ScopedEvent(const ScopedEvent&) = delete;
  ScopedEvent& operator=(const ScopedEvent&) = delete;
  cport::comm::Handle Get() const { return handle_; }

 private:
  cport::comm::Handle handle_;
};

}  // namespace

void TCustomComPort::WaitForEvent(TComEvents& Events,
                                  cport::comm::Handle StopEvent,
                                  std::int32_t Timeout) {
  // The wait would take the driver's event wait from the event thread.
  if (FThreadCreated) return void(RaisePortError(CodeOf(CE_ThreadCreated), 0));

  cport::comm::CommApi& api = cport::comm::Api();
  ScopedEvent event;
  cport::comm::Overlapped ov;
  ov.hEvent = event.Get();
  const cport::comm::Handle handles[2] = {event.Get(), StopEvent};
  const std::uint32_t count = StopEvent != 0 ? 2 : 1;

  api.SetCommMask(FHandle, EventsToMask(Events));
  std::uint32_t mask = 0;
  bool ok = api.WaitCommEvent(FHandle, &mask, &ov) ||
            api.GetLastError() == cport::comm::kErrorIoPending;
  std::uint32_t error = 0;
  if (ok) {
    const std::uint32_t result = api.WaitForMultipleObjects(
        count, handles, false, static_cast<std::uint32_t>(Timeout));
    ok = result < count || result == cport::comm::kWaitTimeout;
    if (!ok) error = api.GetLastError();
    // Mask 0 ends a wait still pending; the driver must be done with `mask`
    // and `ov` before they go out of scope.
    api.SetCommMask(FHandle, 0);
    std::uint32_t transferred = 0;
    api.GetOverlappedResult(FHandle, &ov, &transferred, true);
  } else {
    error = api.GetLastError();
  }
  if (!ok) {
    api.SetLastError(error);
    RaisePortError(CodeOf(CE_WaitFailed), error);
  }
  Events = MaskToEvents(mask);
}

}  // namespace cport
