// A comm API for tests of the framework: the platform's own events, waits
// and threads, and serial calls that all fail as unsupported.
#pragma once

#include "cport/comm/native_sync.h"

namespace fwtest {

class SyncOnlyApi : public cport::comm::NativeSync {
 public:
  cport::comm::Handle CreateFileW(const std::u16string&, std::uint32_t,
                                  std::uint32_t, std::uint32_t,
                                  std::uint32_t) override {
    Unsupported();
    return cport::comm::kInvalidHandle;
  }
  bool SetupComm(cport::comm::Handle, std::uint32_t, std::uint32_t) override {
    return Unsupported();
  }
  bool SetCommState(cport::comm::Handle, const cport::comm::Dcb&) override {
    return Unsupported();
  }
  bool SetCommTimeouts(cport::comm::Handle,
                       const cport::comm::CommTimeouts&) override {
    return Unsupported();
  }
  bool SetCommMask(cport::comm::Handle, std::uint32_t) override {
    return Unsupported();
  }
  bool WaitCommEvent(cport::comm::Handle, std::uint32_t*,
                     cport::comm::Overlapped*) override {
    return Unsupported();
  }
  bool ClearCommError(cport::comm::Handle, std::uint32_t*,
                      cport::comm::ComStat*) override {
    return Unsupported();
  }
  bool GetCommModemStatus(cport::comm::Handle, std::uint32_t*) override {
    return Unsupported();
  }
  bool EscapeCommFunction(cport::comm::Handle, std::uint32_t) override {
    return Unsupported();
  }
  bool TransmitCommChar(cport::comm::Handle, char) override {
    return Unsupported();
  }
  bool PurgeComm(cport::comm::Handle, std::uint32_t) override {
    return Unsupported();
  }
  bool WriteFile(cport::comm::Handle, const void*, std::uint32_t,
                 std::uint32_t*, cport::comm::Overlapped*) override {
    return Unsupported();
  }
  bool ReadFile(cport::comm::Handle, void*, std::uint32_t, std::uint32_t*,
                cport::comm::Overlapped*) override {
    return Unsupported();
  }
  bool GetOverlappedResult(cport::comm::Handle, cport::comm::Overlapped*,
                           std::uint32_t*, bool) override {
    return Unsupported();
  }

 private:
  bool Unsupported() {
    SetLastError(cport::comm::kErrorNotSupported);
    return false;
  }
};

}  // namespace fwtest
