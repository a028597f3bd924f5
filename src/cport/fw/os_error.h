// Operating-system error numbers as people read them.
#pragma once

#include <cstdint>
#include <string>

#include "cport/fw/exception.h"

namespace cport::fw {

// An operating-system call failed; ErrorCode() is the system's number.
class EOSError : public Exception {
 public:
  EOSError(std::u16string message, std::uint32_t errorCode)
      : Exception(std::move(message)), errorCode_(errorCode) {}
  std::uint32_t ErrorCode() const noexcept { return errorCode_; }

 private:
  std::uint32_t errorCode_;
};

// The system's text for `code` (FormatMessageW / strerror); empty when the
// system has none.
std::u16string SysErrorMessage(std::uint32_t code);

// "System Error.  Code: <code>." CR LF <system text>; for code 0,
// "A call to an OS function failed". Never throws.
std::u16string OSErrorDescription(std::uint32_t code) noexcept;

// Raises EOSError with OSErrorDescription of the calling thread's last error.
[[noreturn]] void RaiseLastOSError();

}  // namespace cport::fw
