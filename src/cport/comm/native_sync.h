// The platform's own events, waits, threads, last error and error texts.
// Every implementation of the comm API derives from this one, so handles of
// events and threads are real ones whatever serves the serial calls.
#pragma once

#include "cport/comm/comm_api.h"

namespace cport::comm {

class NativeSync : public CommApi {
 public:
  bool CloseHandle(Handle h) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;

  Handle CreateEventW(bool manualReset, bool initialState) override;
  bool SetEvent(Handle h) override;
  bool ResetEvent(Handle h) override;
  std::uint32_t WaitForSingleObject(Handle h,
                                    std::uint32_t milliseconds) override;
  std::uint32_t WaitForMultipleObjects(std::uint32_t count,
                                       const Handle* handles, bool waitAll,
                                       std::uint32_t milliseconds) override;
  void Sleep(std::uint32_t milliseconds) override;

  Handle CreateThread(std::function<std::uint32_t()> body,
                      bool suspended) override;
  std::uint32_t ResumeThread(Handle thread) override;
  bool SetThreadPriority(Handle thread, int priority) override;
  bool GetExitCodeThread(Handle thread, std::uint32_t* exitCode) override;

  std::u16string FormatMessageW(std::uint32_t code) override;
};

}  // namespace cport::comm
