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

class TComTimeouts : public TComSettings {
 public:
  TComTimeouts() = default;
  std::u16string ClassName() const override { return u"TComTimeouts"; }

  std::int32_t ReadInterval() const { return FReadInterval; }
  void SetReadInterval(std::int32_t value);
  std::int32_t ReadTotalMultiplier() const { return FReadTotalM; }
  void SetReadTotalMultiplier(std::int32_t value);
  std::int32_t ReadTotalConstant() const { return FReadTotalC; }
  void SetReadTotalConstant(std::int32_t value);
  std::int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
  void SetWriteTotalMultiplier(std::int32_t value);
  std::int32_t WriteTotalConstant() const { return FWriteTotalC; }
  void SetWriteTotalConstant(std::int32_t value);

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

class TComFlowControl : public TComSettings {
 public:
  TComFlowControl() = default;
  std::u16string ClassName() const override { return u"TComFlowControl"; }

  /// Summary of ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut. Writing
  /// fcHardware, fcSoftware or fcNone sets those four; writing any value,
  /// fcCustom too, sends the line settings.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl value);

  bool OutCTSFlow() const { return FOutCTSFlow; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return FOutDSRFlow; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return FXonXoffOut; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return FXonXoffIn; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return FDSRSensitivity; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool value);
  /// Only the low 8 bits of the two characters reach the device.
  char16_t XonChar() const { return FXonChar; }
  void SetXonChar(char16_t value);
  char16_t XoffChar() const { return FXoffChar; }
  void SetXoffChar(char16_t value);

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

class TComParity : public TComSettings {
 public:
  TComParity() = default;
  std::u16string ClassName() const override { return u"TComParity"; }

  TParityBits Bits() const { return FBits; }
  void SetBits(TParityBits value);
  bool Check() const { return FCheck; }
  void SetCheck(bool value);
  /// With Check: bytes received with a parity error become ReplaceChar.
  bool Replace() const { return FReplace; }
  void SetReplace(bool value);
  char16_t ReplaceChar() const { return FReplaceChar; }
  void SetReplaceChar(char16_t value);

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

class TComBuffer : public TComSettings {
 public:
  TComBuffer() = default;
  std::u16string ClassName() const override { return u"TComBuffer"; }

  /// Recommended driver queue sizes in bytes. A positive odd size is stored
  /// as the next lower even number.
  std::int32_t InputSize() const { return FInputSize; }
  void SetInputSize(std::int32_t value);
  std::int32_t OutputSize() const { return FOutputSize; }
  void SetOutputSize(std::int32_t value);

 protected:
  void AssignTo(cport::fw::TPersistent& dest) const override;

 private:
  /// Has the owning port send the group this object belongs to.
  void Apply() const;

  std::int32_t FInputSize = 1024;
  std::int32_t FOutputSize = 1024;
};

}  // namespace cport
