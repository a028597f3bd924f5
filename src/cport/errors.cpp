#include "cport/errors.h"

#include "cport/fw/text.h"

namespace cport {

const std::array<std::u16string_view, kComErrorCount + 1> PortErrorMessages = {
    u"",
    u"Unable to open com port",
    u"WriteFile function failed",
    u"ReadFile function failed",
    u"Invalid Async parameter",
    u"PurgeComm function failed",
    u"Unable to get async status",
    u"SetCommState function failed",
    u"SetCommTimeouts failed",
    u"SetupComm function failed",
    u"ClearCommError function failed",
    u"GetCommModemStatus function failed",
    u"EscapeCommFunction function failed",
    u"TransmitCommChar function failed",
    u"Cannot set property while connected",
    u"EnumPorts function failed",
    u"Failed to store settings",
    u"Failed to load settings",
    u"Link (un)registration failed",
    u"Cannot change led state if ComPort is selected",
    u"Cannot wait for event if event thread is created",
    u"WaitForEvent method failed",
    u"A component is linked to OnRxBuf event",
    u"Registry error",
    u"Port Not Open"};

std::u16string_view PortErrorMessage(int code) {
  if (code < 1 || code > kComErrorCount) return {};
  return PortErrorMessages[static_cast<std::size_t>(code)];
}

EComPort::EComPort(int ACode, int AWinCode)
    : cport::fw::Exception(std::u16string(PortErrorMessage(ACode)) +
                           u" (Error: " + cport::fw::IntToStr(AWinCode) + u")"),
      FWinCode(AWinCode),
      FCode(ACode) {}

EComPort::EComPort(int ACode)
    : cport::fw::Exception(std::u16string(PortErrorMessage(ACode))),
      FWinCode(-1),
      FCode(ACode) {}

}  // namespace cport
