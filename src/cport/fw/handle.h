// Kernel handles of the framework's own events, owned by one object each.
#pragma once

#include <cstdint>
#include <string>

#include "cport/comm/comm_api.h"

namespace cport::fw {

// Closes its handle (through the comm API) when destroyed.
class OwnedHandle {
 public:
  explicit OwnedHandle(cport::comm::Handle handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != 0) cport::comm::Api().CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  cport::comm::Handle Get() const { return handle_; }

 private:
  cport::comm::Handle handle_;
};

// "Thread Error: <system text> (<code>)".
std::u16string ThreadErrorMessage(std::uint32_t code);

// A manual-reset, non-signalled event; raises EThread with
// ThreadErrorMessage when the system cannot make one.
cport::comm::Handle CreateManualResetEvent();

}  // namespace cport::fw
