#include "cport/fw/handle.h"

#include "cport/fw/exception.h"
#include "cport/fw/os_error.h"
#include "cport/fw/text.h"

namespace cport::fw {

std::u16string ThreadErrorMessage(std::uint32_t code) {
  return u"Thread Error: " + SysErrorMessage(code) + u" (" + IntToStr(code) +
         u")";
}

cport::comm::Handle CreateManualResetEvent() {
  const cport::comm::Handle event =
      cport::comm::Api().CreateEventW(true, false);
  if (event == 0)
    throw EThread(ThreadErrorMessage(cport::comm::Api().GetLastError()));
  return event;
}

}  // namespace cport::fw
