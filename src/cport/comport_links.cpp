// Notification hooks, links, line-state reports and the error path.
#include <algorithm>

#include "cport/comport.h"
#include "cport/fw/os_error.h"

namespace cport {

TCustomComPort::Watch*& TCustomComPort::Watches() {
  thread_local Watch* innermost = nullptr;
  return innermost;
}

TCustomComPort::Watch::Watch(const TCustomComPort* port)
    : FPort(port), FOuter(Watches()) {
  Watches() = this;
}

TCustomComPort::Watch::~Watch() { Watches() = FOuter; }

void TCustomComPort::MarkWatchesGone() const {
  for (Watch* watch = Watches(); watch != nullptr; watch = watch->FOuter) {
    if (watch->FPort == this) watch->FGone = true;
  }
}

void TCustomComPort::FireAfterClose() { cport::fw::Fire(FOnAfterClose, this); }
void TCustomComPort::FireAfterOpen() { cport::fw::Fire(FOnAfterOpen, this); }
void TCustomComPort::FireBeforeClose() {
  cport::fw::Fire(FOnBeforeClose, this);
}
void TCustomComPort::FireBeforeOpen() { cport::fw::Fire(FOnBeforeOpen, this); }
void TCustomComPort::FireRxChar(std::int32_t Count) {
  cport::fw::Fire(FOnRxChar, this, Count);
}
void TCustomComPort::FireRxBuf(const std::uint8_t* Buffer, std::int32_t Count) {
  cport::fw::Fire(FOnRxBuf, this, Buffer, Count);
}
void TCustomComPort::FireTxEmpty() { cport::fw::Fire(FOnTxEmpty, this); }
void TCustomComPort::FireBreak() { cport::fw::Fire(FOnBreak, this); }
void TCustomComPort::FireRing() { cport::fw::Fire(FOnRing, this); }
void TCustomComPort::FireRxFlag() { cport::fw::Fire(FOnRxFlag, this); }
void TCustomComPort::FireCTSChange(bool OnOff) {
  cport::fw::Fire(FOnCTSChange, this, OnOff);
}
void TCustomComPort::FireDSRChange(bool OnOff) {
  cport::fw::Fire(FOnDSRChange, this, OnOff);
}
void TCustomComPort::FireError(TComErrors Errors) {
  cport::fw::Fire(FOnError, this, Errors);
}
void TCustomComPort::FireRLSDChange(bool OnOff) {
  cport::fw::Fire(FOnRLSDChange, this, OnOff);
}
void TCustomComPort::FireRx80Full() { cport::fw::Fire(FOnRx80Full, this); }

void TCustomComPort::ReportLine(TComSignal signal,
                                const TComSignalEvent& (TComLink::*linkEvent)()
                                    const,
                                void (TCustomComPort::*fire)(bool)) {
  bool on = false;
  if (InTurn([&] { on = Signals().Contains(signal); }) &&
      TellLinks(linkEvent, on))
    (this->*fire)(on);
}

void TCustomComPort::HandleCTSChange() {
  ReportLine(csCTS, &TComLink::OnCTSChange, &TCustomComPort::FireCTSChange);
}
void TCustomComPort::HandleDSRChange() {
  ReportLine(csDSR, &TComLink::OnDSRChange, &TCustomComPort::FireDSRChange);
}
void TCustomComPort::HandleRLSDChange() {
  ReportLine(csRLSD, &TComLink::OnRLSDChange, &TCustomComPort::FireRLSDChange);
}

bool TCustomComPort::IsRegistered(const TComLink* link) const {
  return std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end();
}

void TCustomComPort::RecomputeHasLink() {
  FHasLink = std::any_of(FLinks.begin(), FLinks.end(),
                         [](TComLink* link) { return bool(link->OnRxBuf()); });
}

void TCustomComPort::RegisterLink(TComLink* AComLink) {
  if (AComLink == nullptr || IsRegistered(AComLink)) {
    if (!RaisePortError(CodeOf(CE_RegFailed), 0)) return;
  } else {
    FLinks.push_back(AComLink);
  }
  RecomputeHasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* AComLink) {
  auto it = std::find(FLinks.begin(), FLinks.end(), AComLink);
  if (it == FLinks.end()) {
    if (!RaisePortError(CodeOf(CE_RegFailed), 0)) return;
  } else {
    FLinks.erase(it);
  }
  RecomputeHasLink();
}

bool TCustomComPort::RaisePortError(std::uint16_t Code, std::int64_t WinError) {
  if (!FOnException) {
    // The number shows as the signed value of its low 32 bits.
    if (WinError > 0)
      throw EComPort(Code, static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(WinError)));
    throw EComPort(Code);
  }
  std::u16string winMessage;
  if (WinError > 0)
    winMessage =
        cport::fw::OSErrorDescription(cport::comm::Api().GetLastError());
  // Through a copy, as every notification: the handler may destroy the port
  // and with it the handler it runs in.
  const Watch watch(this);
  cport::fw::Fire(FOnException, this, static_cast<TComExceptions>(Code - 1),
                  std::u16string(PortErrorMessage(Code)), WinError, winMessage);
  return !watch.PortGone();
}

}  // namespace cport
