// A comm API for tests: it plays the serial devices and records every serial
// and file call with its arguments. Events, waits and threads are the real
// ones (NativeSync), so ports, their records and event threads behave as on
// a machine; only what the driver would do is simulated here.
//
// Devices: any "\\.\COMn" exists unless a test says otherwise; other paths
// exist only when a test adds them. A device opens once at a time (share
// mode 0 is exclusive). Device handles are kept apart from the handles of
// events and threads.
//
// Only serial and file calls are recorded (CloseHandle only for device
// handles); events, waits and threads pass straight to NativeSync.
//
// Every call and every helper is thread-safe: an event thread may call the
// fake while the test thread drives the device.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cport/comm/native_sync.h"

namespace cport::comm {

// One recorded call. `args` holds the numeric arguments in call order:
//   CreateFileW          access, shareMode, creationDisposition, flags (+ path)
//   SetupComm            inQueue, outQueue
//   SetCommState         (dcb)
//   SetCommTimeouts      (timeouts)
//   SetCommMask          mask
//   PurgeComm            flags
//   EscapeCommFunction   func
//   TransmitCommChar     the byte
//   WriteFile            count (+ bytes)
//   ReadFile             count
//   GetOverlappedResult  wait (0/1)
//   WaitCommEvent, ClearCommError, GetCommModemStatus, CloseHandle: none
struct FakeCall {
  std::string name;
  Handle handle = 0;
  std::vector<std::uint64_t> args;
  std::u16string path;
  std::vector<std::uint8_t> bytes;
  Dcb dcb;
  CommTimeouts timeouts;
};

class FakeComm : public NativeSync {
 public:
  // How the device completes writes.
  enum class WriteMode {
    kComplete,  // at once, in full
    kShort,     // at once, with at most ShortWriteCount bytes (a timeout)
    kPending    // stays pending until CompleteWrites or an abort
  };

  FakeComm();
  ~FakeComm() override;
  FakeComm(const FakeComm&) = delete;
  FakeComm& operator=(const FakeComm&) = delete;

  // --- The calls ----------------------------------------------------------
  Handle CreateFileW(const std::u16string& path, std::uint32_t access,
                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                     std::uint32_t flags) override;
  bool CloseHandle(Handle h) override;
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

  // --- The record ---------------------------------------------------------
  std::vector<FakeCall> Calls() const;
  std::vector<FakeCall> Calls(std::string_view name) const;
  // The names of all calls in order; with `only`, just those names.
  std::vector<std::string> CallNames() const;
  std::vector<std::string> CallNames(
      std::initializer_list<std::string_view> only) const;
  void ClearCalls();

  // --- Failures -----------------------------------------------------------
  // The next call named `name` fails with `error` (as GetLastError gives it).
  void FailNext(std::string_view name, std::uint32_t error);
  // Every call named `name` fails with `error` until ClearFailures.
  void FailAlways(std::string_view name, std::uint32_t error);
  void ClearFailures();

  // --- The devices ------------------------------------------------------
  void SetDeviceExists(std::u16string_view path, bool exists);
  // The most recently opened device handle, 0 before the first open.
  Handle LastHandle() const;
  bool IsOpen(Handle h) const;
  // The latest settings the device accepted (zero before any).
  Dcb State(Handle h = 0) const;
  CommTimeouts Timeouts(Handle h = 0) const;
  std::uint32_t EventMask(Handle h = 0) const;

  // In every helper below, handle 0 stands for LastHandle().

  // Bytes arrive in the input queue: pending reads take them, and EV_RXCHAR
  // is raised as a driver does.
  void Receive(std::string_view bytes, Handle h = 0);
  std::size_t InputQueued(Handle h = 0) const;
  // Ends pending reads with what the queue holds (a read timeout).
  void CompleteReads(Handle h = 0);
  // Time has passed: pending reads and writes whose total timeouts are set
  // end successfully with what they moved, as their timeouts would end them.
  void ExpireTimeouts(Handle h = 0);

  void SetWriteMode(WriteMode mode, std::uint32_t shortCount = 0, Handle h = 0);
  // Completes pending writes in full.
  void CompleteWrites(Handle h = 0);
  std::size_t PendingWrites(Handle h = 0) const;
  // Every byte the device has taken from writes, in order.
  std::vector<std::uint8_t> Written(Handle h = 0) const;
  std::string WrittenText(Handle h = 0) const;

  // Modem lines (MS_*_ON bits), line errors (CE_* bits, cleared by
  // ClearCommError) and the queue state ClearCommError reports. Settable
  // before a device is opened: they then apply to the next open.
  void SetModemStatus(std::uint32_t bits, Handle h = 0);
  void SetLineErrors(std::uint32_t bits, Handle h = 0);
  void SetComStat(std::uint32_t flags, std::uint32_t outQueue, Handle h = 0);

  // Driver events (EV_* bits). Those in the event mask complete a pending
  // WaitCommEvent, or are kept for the next one.
  void RaiseEvents(std::uint32_t bits, Handle h = 0);
  bool WaitPending(Handle h = 0) const;

 private:
  struct Op;
  struct Device;
  struct Failure {
    std::string name;
    std::uint32_t error;
    bool always;
  };

  Device* Find(Handle h);
  const Device* Find(Handle h) const;
  Handle Resolve(Handle h) const;
  void Record(FakeCall call);
  // Records the call and decides its outcome: false (with the last error
  // set) for a failure the test asked for or an unknown handle.
  bool Begin(FakeCall call, Device** device);
  void Complete(Overlapped* ov, std::uint32_t status, std::uint32_t count);
  void ServeReads(Device& d);
  void ServeWait(Device& d);
  void AbortAll(Device& d, bool reads, bool writes, bool waits);

  mutable std::mutex lock_;
  std::vector<FakeCall> calls_;
  std::vector<Failure> failures_;
  std::map<std::u16string, bool> exists_;
  std::map<Handle, std::unique_ptr<Device>> devices_;
  // Line state set before any open, applied to the next device opened.
  std::uint32_t initialModem_ = 0;
  std::uint32_t initialErrors_ = 0;
  Handle next_;
  Handle last_ = 0;
};

}  // namespace cport::comm
