// The comm API on POSIX: serial devices are terminals driven through
// termios, behind handles of the process-wide kernel-object table.
#pragma once

#include "cport/comm/native_sync.h"

namespace cport::comm {

class PosixComm : public NativeSync {
 public:
  Handle CreateFileW(const std::u16string& path, std::uint32_t access,
                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                     std::uint32_t flags) override;
  bool SetupComm(Handle h, std::uint32_t inQueue,
                 std::uint32_t outQueue) override;
  bool SetCommState(Handle h, const Dcb& dcb) override;
  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override;
  bool SetCommMask(Handle h, std::uint32_t mask) override;
  bool WaitCommEvent(Handle h, std::uint32_t* mask, Overlapped* ov) override;
  bool ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) override;
  bool GetCommModemStatus(Handle h, std::uint32_t* status) override;
  bool EscapeCommFunction(Handle h, std::uint32_t func) override;
  bool TransmitCommChar(Handle h, char ch) override;
  bool PurgeComm(Handle h, std::uint32_t flags) override;
  bool WriteFile(Handle h, const void* buffer, std::uint32_t count,
                 std::uint32_t* written, Overlapped* ov) override;
  bool ReadFile(Handle h, void* buffer, std::uint32_t count,
                std::uint32_t* read, Overlapped* ov) override;
  bool GetOverlappedResult(Handle h, Overlapped* ov, std::uint32_t* transferred,
                           bool wait) override;
};

}  // namespace cport::comm
