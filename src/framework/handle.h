// Kernel handles of the framework's own events, owned by one object each.
#pragma once

#include <cstdint>
#include <string>

#include "platform/comm_api.h"

namespace fw {

// Closes its handle (through the comm API) when destroyed.
class OwnedHandle {
 public:
  explicit OwnedHandle(comm::Handle handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != 0) comm::Api().CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  comm::Handle Get() const { return handle_; }

 private:
  comm::Handle handle_;
};

// "Thread Error: <system text> (<code>)".
std::u16string ThreadErrorMessage(std::uint32_t code);

// A manual-reset, non-signalled event; raises EThread with
// ThreadErrorMessage when the system cannot make one.
comm::Handle CreateManualResetEvent();

}  // namespace fw
