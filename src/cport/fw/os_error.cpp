#include "cport/fw/os_error.h"

#include "cport/comm/comm_api.h"
#include "cport/fw/text.h"

namespace cport::fw {

std::u16string SysErrorMessage(std::uint32_t code) {
  return cport::comm::Api().FormatMessageW(code);
}

std::u16string OSErrorDescription(std::uint32_t code) noexcept {
  try {
    if (code == 0) return u"A call to an OS function failed";
    return u"System Error.  Code: " + IntToStr(code) + u".\r\n" +
           SysErrorMessage(code);
  } catch (...) {
    return {};
  }
}

void RaiseLastOSError() {
  const std::uint32_t code = cport::comm::Api().GetLastError();
  throw EOSError(OSErrorDescription(code), code);
}

}  // namespace cport::fw
