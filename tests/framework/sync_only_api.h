// A comm API for tests of the framework: the platform's own events, waits
// and threads, and serial calls that all fail as unsupported.
#pragma once

#include "platform/native_sync.h"

namespace fwtest {

class SyncOnlyApi : public comm::NativeSync {
 public:
  comm::Handle CreateFileW(const std::u16string&, std::uint32_t, std::uint32_t,
                           std::uint32_t, std::uint32_t) override {
    Unsupported();
    return comm::kInvalidHandle;
  }
  bool SetupComm(comm::Handle, std::uint32_t, std::uint32_t) override {
    return Unsupported();
  }
  bool SetCommState(comm::Handle, const comm::Dcb&) override {
    return Unsupported();
  }
  bool SetCommTimeouts(comm::Handle, const comm::CommTimeouts&) override {
    return Unsupported();
  }
  bool SetCommMask(comm::Handle, std::uint32_t) override {
    return Unsupported();
  }
  bool WaitCommEvent(comm::Handle, std::uint32_t*, comm::Overlapped*) override {
    return Unsupported();
  }
  bool ClearCommError(comm::Handle, std::uint32_t*, comm::ComStat*) override {
    return Unsupported();
  }
  bool GetCommModemStatus(comm::Handle, std::uint32_t*) override {
    return Unsupported();
  }
  bool EscapeCommFunction(comm::Handle, std::uint32_t) override {
    return Unsupported();
  }
  bool TransmitCommChar(comm::Handle, char) override { return Unsupported(); }
  bool PurgeComm(comm::Handle, std::uint32_t) override { return Unsupported(); }
  bool WriteFile(comm::Handle, const void*, std::uint32_t, std::uint32_t*,
                 comm::Overlapped*) override {
    return Unsupported();
  }
  bool ReadFile(comm::Handle, void*, std::uint32_t, std::uint32_t*,
                comm::Overlapped*) override {
    return Unsupported();
  }
  bool GetOverlappedResult(comm::Handle, comm::Overlapped*, std::uint32_t*,
                           bool) override {
    return Unsupported();
  }

 private:
  bool Unsupported() {
    SetLastError(comm::kErrorNotSupported);
    return false;
  }
};

}  // namespace fwtest
