#include "framework/handle.h"

#include "framework/exception.h"
#include "framework/os_error.h"
#include "framework/text.h"

namespace fw {

std::u16string ThreadErrorMessage(std::uint32_t code) {
  return u"Thread Error: " + SysErrorMessage(code) + u" (" + IntToStr(code) +
         u")";
}

comm::Handle CreateManualResetEvent() {
  const comm::Handle event = comm::Api().CreateEventW(true, false);
  if (event == 0) throw EThread(ThreadErrorMessage(comm::Api().GetLastError()));
  return event;
}

}  // namespace fw
