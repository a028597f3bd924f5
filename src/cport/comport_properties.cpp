// Construction, destruction and the port's own property setters.
#include <exception>

#include "cport/comport.h"
#include "cport/comthread.h"
#include "cport/fw/application.h"

namespace cport {

TCustomComPort::TCustomComPort(cport::fw::TComponent* AOwner)
    : cport::fw::TComponent(AOwner) {
  FParity = std::make_unique<TComParity>();
  FFlowControl = std::make_unique<TComFlowControl>();
  FTimeouts = std::make_unique<TComTimeouts>();
  FBuffer = std::make_unique<TComBuffer>();
  FParity->FComPort = this;
  FFlowControl->FComPort = this;
  FTimeouts->FComPort = this;
  FBuffer->FComPort = this;
}

TCustomComPort::~TCustomComPort() {
  // Close completes its teardown even when it reports an error; nothing can
  // take an error from a destructor.
  try {
    Close();
    // Destroyed by a handler inside Close: that Close returns without
    // touching the port, so the device is closed here.
    if (FClosing) TearDown();
  } catch (...) {
  }
  ReleaseRetiredThreads();
  MarkWatchesGone();
  FBuffer.reset();
  FFlowControl.reset();
  FTimeouts.reset();
  FParity.reset();
}

bool TCustomComPort::Loading() const {
  return ComponentState().Contains(cport::fw::csLoading);
}

bool TCustomComPort::Designing() const {
  return ComponentState().Contains(cport::fw::csDesigning);
}

bool TCustomComPort::CanApply() const {
  return FConnected && FUpdateCount == 0 && !Loading() && !Designing();
}

void TCustomComPort::SetTriggersOnRxChar(bool value) {
  if (FHasLink && !RaisePortError(CodeOf(CE_HasLink), 0)) return;
  FTriggersOnRxChar = value;
}

// The event thread reads these two settings: while connected a new value
// is refused and the old one stays.
bool TCustomComPort::ThreadSettingLocked() const {
  return FConnected && !Loading() && !Designing();
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority value) {
  if (value == FEventThreadPriority) return;
  if (ThreadSettingLocked())
    return void(RaisePortError(CodeOf(CE_ConnChangeProp), 0));
  FEventThreadPriority = value;
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == FSyncMethod) return;
  if (ThreadSettingLocked())
    return void(RaisePortError(CodeOf(CE_ConnChangeProp), 0));
  FSyncMethod = value;
}

void TCustomComPort::SetConnected(bool value) {
  if (Loading() || Designing()) {
    FConnected = value;
  } else if (value != FConnected) {
    value ? Open() : Close();
  }
}

void TCustomComPort::SetPort(const std::u16string& value) {
  if (value == FPort) return;
  FPort = value;
  if (FConnected && !Loading() && !Designing())
    InTurn([&] { Close(); }, [&] { Open(); });
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (StoreChanged(FBaudRate, value)) ApplyLineSettings();
}
void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
  if (StoreChanged(FCustomBaudRate, value)) ApplyLineSettings();
}
void TCustomComPort::SetStopBits(TStopBits value) {
  if (StoreChanged(FStopBits, value)) ApplyLineSettings();
}
void TCustomComPort::SetDataBits(TDataBits value) {
  if (StoreChanged(FDataBits, value)) ApplyLineSettings();
}
void TCustomComPort::SetDiscardNull(bool value) {
  if (StoreChanged(FDiscardNull, value)) ApplyLineSettings();
}
void TCustomComPort::SetEventChar(char16_t value) {
  if (StoreChanged(FEventChar, value)) ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& value) {
  FParity->Assign(value);
  ApplyLineSettings();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  FFlowControl->Assign(value);
  ApplyLineSettings();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  FTimeouts->Assign(value);
  ApplyTimeoutSettings();
}
void TCustomComPort::SetBuffer(const TComBuffer& value) {
  FBuffer->Assign(value);
  ApplyQueueSizes();
}

void TCustomComPort::BeginUpdate() { ++FUpdateCount; }

void TCustomComPort::EndUpdate() {
  if (FUpdateCount < 1) return;
  if (--FUpdateCount == 0) ApplyAllSettings();
}

void TCustomComPort::Loaded() {
  cport::fw::TComponent::Loaded();
  if (!FConnected || Designing()) return;
  FConnected = false;
  try {
    Open();
  } catch (...) {
    // Without an application nothing could show the error: let it go on.
    cport::fw::TApplication* application = cport::fw::Application();
    if (application == nullptr) throw;
    application->HandleException(std::current_exception());
  }
}

}  // namespace cport
