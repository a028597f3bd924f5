// Opening and closing the device, and sending the settings to the driver.
#include <exception>

#include "cport/comport.h"
#include "cport/comthread.h"

namespace cport {

// Every notification and error report may destroy the port from its
// handler; each step of Open and Close then ends the call at once.
void TCustomComPort::Open() {
  JoinRetiredThreads();
  if (FConnected || Designing()) return;
  if (!InTurn([&] { FireBeforeOpen(); }, [&] { CreateDeviceHandle(); })) return;
  // The apply hooks act only on an open port.
  FConnected = true;
  const Watch watch(this);
  try {
    ApplyAllSettings();
  } catch (...) {
    if (!watch.PortGone()) {
      DestroyDeviceHandle();
      FConnected = false;
    }
    throw;
  }
  if (watch.PortGone()) return;
  StartEventThread();
  InTurn([&] { TellLinks(&TComLink::OnConn, true); }, [&] { FireAfterOpen(); },
         [&] { HandleCTSChange(); }, [&] { HandleDSRChange(); },
         [&] { HandleRLSDChange(); });
}

void TCustomComPort::Close() {
  JoinRetiredThreads();
  if (!FConnected || Designing() || FClosing) return;
  const Watch watch(this);
  FClosing = true;
  // Cleared on every way out of a port that is still there.
  struct ClosingMark {
    const Watch& watch;
    bool& closing;
    ~ClosingMark() {
      if (!watch.PortGone()) closing = false;
    }
  } mark{watch, FClosing};
  if (!InTurn([&] { TellLinks(&TComLink::OnCTSChange, false); },
              [&] { TellLinks(&TComLink::OnDSRChange, false); },
              [&] { TellLinks(&TComLink::OnRLSDChange, false); },
              [&] { FireCTSChange(false); }, [&] { FireDSRChange(false); },
              [&] { FireRLSDChange(false); }, [&] { FireBeforeClose(); }))
    return;
  // A failed abort (typically a device that has gone away) must not leave
  // the port half-open: the teardown completes and the error is reported
  // afterwards.
  std::exception_ptr abortError;
  try {
    AbortAllAsync();
  } catch (...) {
    abortError = std::current_exception();
  }
  if (!watch.PortGone())
    InTurn([&] { TearDown(); }, [&] { TellLinks(&TComLink::OnConn, false); },
           [&] { FireAfterClose(); });
  if (abortError) std::rethrow_exception(abortError);
}

void TCustomComPort::TearDown() {
  if (FThreadCreated && !InTurn([&] { StopEventThread(); })) return;
  DestroyDeviceHandle();
  FSpareAsync.Clear();
  FConnected = false;
}

void TCustomComPort::CreateDeviceHandle() {
  FHandle = cport::comm::Api().CreateFileW(
      u"\\\\.\\" + FPort,
      cport::comm::kGenericRead | cport::comm::kGenericWrite, 0,
      cport::comm::kOpenExisting, cport::comm::kFileFlagOverlapped);
  if (FHandle == cport::comm::kInvalidHandle)
    RaiseLastError(CodeOf(CE_OpenFailed));
}

void TCustomComPort::DestroyDeviceHandle() {
  if (FHandle != cport::comm::kInvalidHandle &&
      cport::comm::Api().CloseHandle(FHandle))
    FHandle = cport::comm::kInvalidHandle;
}

void TCustomComPort::ApplyAllSettings() {
  InTurn([&] { ApplyQueueSizes(); }, [&] { ApplyLineSettings(); },
         [&] { ApplyTimeoutSettings(); });
}

cport::comm::Dcb TCustomComPort::BuildDcb() const {
  const TComParity& parity = *FParity;
  const TComFlowControl& flow = *FFlowControl;
  const bool replace = parity.Check() && parity.Replace();
  auto bit = [](bool on, std::uint32_t mask) { return on ? mask : 0u; };

  cport::comm::Dcb dcb;
  dcb.BaudRate =
      static_cast<std::uint32_t>(BaudRateValue(FBaudRate, FCustomBaudRate));
  dcb.Flags =
      cport::comm::kDcbBinary | bit(parity.Check(), cport::comm::kDcbParity) |
      bit(flow.OutCTSFlow(), cport::comm::kDcbOutxCtsFlow) |
      bit(flow.OutDSRFlow(), cport::comm::kDcbOutxDsrFlow) |
      (std::uint32_t{flow.ControlDTR()} << cport::comm::kDcbDtrControlShift) |
      bit(flow.DSRSensitivity(), cport::comm::kDcbDsrSensitivity) |
      bit(flow.TxContinueOnXoff(), cport::comm::kDcbTxContinueOnXoff) |
      bit(flow.XonXoffOut(), cport::comm::kDcbOutX) |
      bit(flow.XonXoffIn(), cport::comm::kDcbInX) |
      bit(replace, cport::comm::kDcbErrorChar) |
      bit(FDiscardNull, cport::comm::kDcbNull) |
      (std::uint32_t{flow.ControlRTS()} << cport::comm::kDcbRtsControlShift);
  // Input flow control holds the sender back at three quarters of the
  // input queue and lets it go on at a quarter.
  dcb.XonLim = static_cast<std::uint16_t>(FBuffer->InputSize() / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = static_cast<std::uint8_t>(5 + FDataBits);
  dcb.Parity = parity.Bits();
  dcb.StopBits = FStopBits;
  dcb.XonChar = static_cast<std::uint8_t>(flow.XonChar());
  dcb.XoffChar = static_cast<std::uint8_t>(flow.XoffChar());
  dcb.ErrorChar = replace ? static_cast<std::uint8_t>(parity.ReplaceChar()) : 0;
  dcb.EvtChar = static_cast<std::uint8_t>(FEventChar);
  return dcb;
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  if (!cport::comm::Api().SetCommState(FHandle, BuildDcb()))
    RaiseLastError(CodeOf(CE_SetStateFailed));
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  // Each member takes the 32-bit pattern of its setting: -1 is MAXDWORD.
  auto dword = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
  const TComTimeouts& t = *FTimeouts;
  const cport::comm::CommTimeouts timeouts{
      dword(t.ReadInterval()), dword(t.ReadTotalMultiplier()),
      dword(t.ReadTotalConstant()), dword(t.WriteTotalMultiplier()),
      dword(t.WriteTotalConstant())};
  if (!cport::comm::Api().SetCommTimeouts(FHandle, timeouts))
    RaiseLastError(CodeOf(CE_TimeoutsFailed));
}

void TCustomComPort::ApplyQueueSizes() {
  if (!CanApply()) return;
  if (!cport::comm::Api().SetupComm(
          FHandle, static_cast<std::uint32_t>(FBuffer->InputSize()),
          static_cast<std::uint32_t>(FBuffer->OutputSize())))
    RaiseLastError(CodeOf(CE_SetupComFailed));
}

}  // namespace cport
