// The port's error kinds, their fixed messages, and the exception that
// carries them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "cport/fw/events.h"
#include "cport/fw/exception.h"

namespace cport {

/// The error kinds; a member's ordinal is its code minus 1.
enum TComExceptions : std::uint8_t {
  CE_OpenFailed,
  CE_WriteFailed,
  CE_ReadFailed,
  CE_InvalidAsync,
  CE_PurgeFailed,
  CE_AsyncCheck,
  CE_SetStateFailed,
  CE_TimeoutsFailed,
  CE_SetupComFailed,
  CE_ClearComFailed,
  CE_ModemStatFailed,
  CE_EscapeComFailed,
  CE_TransmitFailed,
  CE_ConnChangeProp,
  CE_EnumPortsFailed,
  CE_StoreFailed,
  CE_LoadFailed,
  CE_RegFailed,
  CE_LedStateFailed,
  CE_ThreadCreated,
  CE_WaitFailed,
  CE_HasLink,
  CE_RegError,
  CEPortNotOpen
};

inline constexpr int kComErrorCount = 24;

/// The code of an error kind (1..24).
constexpr std::uint16_t CodeOf(TComExceptions kind) {
  return static_cast<std::uint16_t>(kind + 1);
}

/// The message of each code, indexed by code 1..24 (entry 0 is unused).
extern const std::array<std::u16string_view, kComErrorCount + 1>
    PortErrorMessages;

/// The message of `code`, or an empty view for a code outside 1..24.
std::u16string_view PortErrorMessage(int code);

/// The error every call of a port raises (unless the port's OnException is
/// assigned): a code of TComExceptions and the system's error number.
class EComPort : public cport::fw::Exception {
 public:
  /// The code's message followed by " (Error: <AWinCode>)".
  EComPort(int ACode, int AWinCode);
  /// The code's message alone; WinCode is -1.
  explicit EComPort(int ACode);

  /// The error's code, 1..24 (CodeOf of its TComExceptions member).
  ///@{
  int Code() const { return FCode; }
  void SetCode(int value) { FCode = value; }
  ///@}
  /// The failing system call's error number (errno on Linux, GetLastError
  /// on Windows); 0 for none, -24 for a port that is not open, -1 when
  /// none was given.
  ///@{
  int WinCode() const { return FWinCode; }
  void SetWinCode(int value) { FWinCode = value; }
  ///@}

 private:
  int FWinCode;
  int FCode;
};

/// Called instead of raising when a port's OnException is assigned.
using TComExceptionEvent = cport::fw::TMethod<
    TComExceptions /*TComException*/, const std::u16string& /*ComportMessage*/,
    std::int64_t /*WinError*/, const std::u16string& /*WinMessage*/>;

}  // namespace cport
