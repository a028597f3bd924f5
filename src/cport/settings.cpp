#include "cport/settings.h"

#include "cport/comport.h"

namespace cport {

// --- TComTimeouts ----------------------------------------------------------

void TComTimeouts::Apply() const {
  if (ComPort() != nullptr) ComPort()->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(std::int32_t value) {
  if (StoreChanged(FReadInterval, value)) Apply();
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t value) {
  if (StoreChanged(FReadTotalM, value)) Apply();
}
void TComTimeouts::SetReadTotalConstant(std::int32_t value) {
  if (StoreChanged(FReadTotalC, value)) Apply();
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t value) {
  if (StoreChanged(FWriteTotalM, value)) Apply();
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t value) {
  if (StoreChanged(FWriteTotalC, value)) Apply();
}

void TComTimeouts::AssignTo(cport::fw::TPersistent& dest) const {
  auto* target = dynamic_cast<TComTimeouts*>(&dest);
  if (target == nullptr) return TComSettings::AssignTo(dest);
  target->FReadInterval = FReadInterval;
  target->FReadTotalM = FReadTotalM;
  target->FReadTotalC = FReadTotalC;
  target->FWriteTotalM = FWriteTotalM;
  target->FWriteTotalC = FWriteTotalC;
}

// --- TComFlowControl -------------------------------------------------------

void TComFlowControl::Apply() const {
  if (ComPort() != nullptr) ComPort()->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xon = FXonXoffIn || FXonXoffOut;
  if (FControlRTS == rtsHandshake && FOutCTSFlow && !xon) return fcHardware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
    return fcSoftware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && !xon) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    FControlRTS = value == fcHardware ? rtsHandshake : rtsDisable;
    FOutCTSFlow = value == fcHardware;
    FXonXoffIn = FXonXoffOut = value == fcSoftware;
  }
  Apply();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (StoreChanged(FOutCTSFlow, value)) Apply();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (StoreChanged(FOutDSRFlow, value)) Apply();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (StoreChanged(FControlDTR, value)) Apply();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (StoreChanged(FControlRTS, value)) Apply();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (StoreChanged(FXonXoffOut, value)) Apply();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (StoreChanged(FXonXoffIn, value)) Apply();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (StoreChanged(FDSRSensitivity, value)) Apply();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (StoreChanged(FTxContinueOnXoff, value)) Apply();
}
void TComFlowControl::SetXonChar(char16_t value) {
  if (StoreChanged(FXonChar, value)) Apply();
}
void TComFlowControl::SetXoffChar(char16_t value) {
  if (StoreChanged(FXoffChar, value)) Apply();
}

void TComFlowControl::AssignTo(cport::fw::TPersistent& dest) const {
  auto* target = dynamic_cast<TComFlowControl*>(&dest);
  if (target == nullptr) return TComSettings::AssignTo(dest);
  target->FOutCTSFlow = FOutCTSFlow;
  target->FOutDSRFlow = FOutDSRFlow;
  target->FControlDTR = FControlDTR;
  target->FControlRTS = FControlRTS;
  target->FXonXoffOut = FXonXoffOut;
  target->FXonXoffIn = FXonXoffIn;
  target->FDSRSensitivity = FDSRSensitivity;
  target->FTxContinueOnXoff = FTxContinueOnXoff;
  target->FXonChar = FXonChar;
  target->FXoffChar = FXoffChar;
}

// --- TComParity ------------------------------------------------------------

void TComParity::Apply() const {
  if (ComPort() != nullptr) ComPort()->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (StoreChanged(FBits, value)) Apply();
}
void TComParity::SetCheck(bool value) {
  if (StoreChanged(FCheck, value)) Apply();
}
void TComParity::SetReplace(bool value) {
  if (StoreChanged(FReplace, value)) Apply();
}
void TComParity::SetReplaceChar(char16_t value) {
  if (StoreChanged(FReplaceChar, value)) Apply();
}

void TComParity::AssignTo(cport::fw::TPersistent& dest) const {
  auto* target = dynamic_cast<TComParity*>(&dest);
  if (target == nullptr) return TComSettings::AssignTo(dest);
  target->FBits = FBits;
  target->FCheck = FCheck;
  target->FReplace = FReplace;
  target->FReplaceChar = FReplaceChar;
}

// --- TComBuffer ------------------------------------------------------------

namespace {

// Driver queue sizes are kept even: a positive odd size rounds down.
std::int32_t EvenSize(std::int32_t value) {
  return value > 0 && value % 2 != 0 ? value - 1 : value;
}

}  // namespace

void TComBuffer::Apply() const {
  if (ComPort() != nullptr) ComPort()->ApplyQueueSizes();
}

void TComBuffer::SetInputSize(std::int32_t value) {
  if (value != FInputSize) {
    FInputSize = EvenSize(value);
    Apply();
  }
}

void TComBuffer::SetOutputSize(std::int32_t value) {
  if (value != FOutputSize) {
    FOutputSize = EvenSize(value);
    Apply();
  }
}

void TComBuffer::AssignTo(cport::fw::TPersistent& dest) const {
  auto* target = dynamic_cast<TComBuffer*>(&dest);
  if (target == nullptr) return TComSettings::AssignTo(dest);
  target->FInputSize = FInputSize;
  target->FOutputSize = FOutputSize;
}

}  // namespace cport
