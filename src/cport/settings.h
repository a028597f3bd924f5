// The four settings objects a port owns: timeouts, flow control, parity and
// driver queue sizes. Each setter stores a changed value and then has the
// owning port send the whole group to the device (the port decides whether
// it is open and not inside an update bracket). An object made on its own,
// without a port, only stores.
#pragma once

#include <cstdint>

#include "cport/fw/persistent.h"
#include "cport/types.h"

namespace cport {

class TCustomComPort;

/// Stores `value` in `field`; false when it equals the stored one.
template <class T>
bool StoreChanged(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

/// Base of the four: the back-reference to the owning port.
class TComSettings : public cport::fw::TPersistent {
 public:
  /// The owning port; null for an object made on its own.
  TCustomComPort* ComPort() const { return FComPort; }

 protected:
  TComSettings() = default;
  /// Values move between settings objects through Assign only.
  TComSettings(const TComSettings&) = delete;
  TComSettings& operator=(const TComSettings&) = delete;

 private:
  friend class TCustomComPort;
  TCustomComPort* FComPort = nullptr;
};

/// Timeouts of reads and writes (TCustomComPort::Timeouts). A change is
/// sent to an open port at once.
class TComTimeouts : public TComSettings {
 public:
  /// Reads return at once with what has arrived; a write may take 100 ms
  /// per byte plus 1 s.
  TComTimeouts() = default;
  std::u16string ClassName() const override { return u"TComTimeouts"; }

  /// Longest pause between two received bytes, in milliseconds; 0 sets no
  /// limit, and -1 with both read totals 0 returns at once with what has
  /// arrived.
  ///@{
  std::int32_t ReadInterval() const { return FReadInterval; }
  void SetReadInterval(std::int32_t value);
  ///@}
  /// Milliseconds per byte requested added to ReadTotalConstant: the time a
  /// read may take in all (0 and 0: no limit).
  ///@{
  std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
  void SetReadTotalMultiplier(std::int32_t value);
  ///@}
  /// Milliseconds a read may take in all, beside ReadTotalMultiplier.
  ///@{
  std::int32_t ReadTotalConstant() const { return FReadTotalC; }
  void SetReadTotalConstant(std::int32_t value);
  ///@}
  /// Milliseconds per byte written added to WriteTotalConstant: the time a
  /// write may take in all (0 and 0: no limit).
  ///@{
  std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
  void SetWriteTotalMultiplier(std::int32_t value);
  ///@}
  /// Milliseconds a write may take in all, beside WriteTotalMultiplier.
  ///@{
  std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
  void SetWriteTotalConstant(std::int32_t value);
  ///@}

 protected:
  void AssignTo(cport::fw::TPersistent& dest) const override;

 private:
  /// Has the owning port send the group this object belongs to.
  void Apply() const;

  std::int32_t FReadInterval = -1;
  std::int32_t FReadTotalM = 0;
  std::int32_t FReadTotalC = 0;
  std::int32_t FWriteTotalM = 100;
  std::int32_t FWriteTotalC = 1000;
};

/// Flow control (TCustomComPort::FlowControl); none by default. A change is
/// sent to an open port at once.
class TComFlowControl : public TComSettings {
 public:
  /// No flow control; XON 0x11, XOFF 0x13.
  TComFlowControl() = default;
  std::u16string ClassName() const override { return u"TComFlowControl"; }

  /// Summary of ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut. Writing
  /// fcHardware, fcSoftware or fcNone sets those four; writing any value,
  /// fcCustom too, sends the line settings.
  ///@{
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);
  ///@}

  /// Output waits while CTS is off.
  ///@{
  bool OutCTSFlow() const { return FOutCTSFlow; }
  void SetOutCTSFlow(bool value);
  ///@}
  /// Output waits while DSR is off.
  ///@{
  bool OutDSRFlow() const { return FOutDSRFlow; }
  void SetOutDSRFlow(bool value);
  ///@}
  /// How the driver drives DTR: off, on, or handshake.
  ///@{
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void SetControlDTR(TDTRFlowControl value);
  ///@}
  /// How the driver drives RTS: off, on, handshake, or on while sending.
  ///@{
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void SetControlRTS(TRTSFlowControl value);
  ///@}
  /// Output stops at XoffChar received and resumes at XonChar.
  ///@{
  bool XonXoffOut() const { return FXonXoffOut; }
  void SetXonXoffOut(bool value);
  ///@}
  /// The driver sends XoffChar when its input queue is nearly full and
  /// XonChar when it has room again.
  ///@{
  bool XonXoffIn() const { return FXonXoffIn; }
  void SetXonXoffIn(bool value);
  ///@}
  /// Received bytes are dropped while DSR is off.
  ///@{
  bool DSRSensitivity() const { return FDSRSensitivity; }
  void SetDSRSensitivity(bool value);
  ///@}
  /// Output goes on after the driver has sent XoffChar.
  ///@{
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool value);
  ///@}
  /// The character that resumes output (default 0x11). Only the low 8 bits
  /// of XonChar and XoffChar reach the device.
  ///@{
  char16_t XonChar() const { return FXonChar; }
  void SetXonChar(char16_t value);
  ///@}
  /// The character that stops output (default 0x13).
  ///@{
  char16_t XoffChar() const { return FXoffChar; }
  void SetXoffChar(char16_t value);
  ///@}

 protected:
  void AssignTo(cport::fw::TPersistent& dest) const override;

 private:
  /// Has the owning port send the group this object belongs to.
  void Apply() const;

  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char16_t FXonChar = 0x11;
  char16_t FXoffChar = 0x13;
};

/// Parity (TCustomComPort::Parity); none by default. A change is sent to an
/// open port at once.
class TComParity : public TComSettings {
 public:
  /// No parity, no check.
  TComParity() = default;
  std::u16string ClassName() const override { return u"TComParity"; }

  /// The parity bit sent and expected with each character.
  ///@{
  TParityBits Bits() const { return FBits; }
  void SetBits(TParityBits value);
  ///@}
  /// Received characters are checked for parity errors.
  ///@{
  bool Check() const { return FCheck; }
  void SetCheck(bool value);
  ///@}
  /// With Check: bytes received with a parity error become ReplaceChar.
  ///@{
  bool Replace() const { return FReplace; }
  void SetReplace(bool value);
  ///@}
  /// The byte that replaces one received with a parity error, with Replace.
  ///@{
  char16_t ReplaceChar() const { return FReplaceChar; }
  void SetReplaceChar(char16_t value);
  ///@}

 protected:
  void AssignTo(cport::fw::TPersistent& dest) const override;

 private:
  /// Has the owning port send the group this object belongs to.
  void Apply() const;

  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char16_t FReplaceChar = 0;
};

/// The driver's queue sizes (TCustomComPort::Buffer). A change is sent to
/// an open port at once.
class TComBuffer : public TComSettings {
 public:
  /// 1024 bytes each way.
  TComBuffer() = default;
  std::u16string ClassName() const override { return u"TComBuffer"; }

  /// Recommended driver queue sizes in bytes. A positive odd size is stored
  /// as the next lower even number.
  ///@{
  std::int32_t InputSize() const { return FInputSize; }
  void SetInputSize(std::int32_t value);
  ///@}
  /// Recommended size of the driver's output queue in bytes; as InputSize.
  ///@{
  std::int32_t OutputSize() const { return FOutputSize; }
  void SetOutputSize(std::int32_t value);
  ///@}

 protected:
  void AssignTo(cport::fw::TPersistent& dest) const override;

 private:
  /// Has the owning port send the group this object belongs to.
  void Apply() const;

  std::int32_t FInputSize = 1024;
  std::int32_t FOutputSize = 1024;
};

}  // namespace cport
