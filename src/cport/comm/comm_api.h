// The platform calls the serial component makes, in the shape of the Win32
// kernel32 calls: the same arguments, values, flags and outcomes on every
// platform. On Windows the implementation passes straight through to kernel32;
// on POSIX it is emulated with termios; in tests a fake records every call.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace cport::comm {

using Handle = std::uintptr_t;

/// All bits set, as INVALID_HANDLE_VALUE.
inline constexpr Handle kInvalidHandle = ~Handle{0};

// ---------------------------------------------------------------------------
// Blocks passed to the driver (Win32 layouts).

/// Device control block, 28 bytes. `Flags` holds the Win32 bit fields.
struct Dcb {
  /// The fields of Win32's DCB, with its names and meanings; the bit fields
  /// are in Flags (kDcb...).
  ///@{
  std::uint32_t DCBlength = sizeof(Dcb);
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
  std::uint8_t ErrorChar = 0;
  std::uint8_t EofChar = 0;
  std::uint8_t EvtChar = 0;
  std::uint16_t wReserved1 = 0;
  ///@}

  /// Field by field.
  bool operator==(const Dcb&) const = default;
};
static_assert(sizeof(Dcb) == 28);

/// Bits of Dcb::Flags.
inline constexpr std::uint32_t kDcbBinary = 1u << 0;
inline constexpr std::uint32_t kDcbParity = 1u << 1;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 1u << 2;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 1u << 3;
inline constexpr unsigned kDcbDtrControlShift = 4;  // 2 bits
inline constexpr std::uint32_t kDcbDtrControlMask = 3u << kDcbDtrControlShift;
inline constexpr std::uint32_t kDcbDsrSensitivity = 1u << 6;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 1u << 7;
inline constexpr std::uint32_t kDcbOutX = 1u << 8;
inline constexpr std::uint32_t kDcbInX = 1u << 9;
inline constexpr std::uint32_t kDcbErrorChar = 1u << 10;
inline constexpr std::uint32_t kDcbNull = 1u << 11;
inline constexpr unsigned kDcbRtsControlShift = 12;  // 2 bits
inline constexpr std::uint32_t kDcbRtsControlMask = 3u << kDcbRtsControlShift;
inline constexpr std::uint32_t kDcbAbortOnError = 1u << 14;

/// Dcb::Parity and Dcb::StopBits values.
inline constexpr std::uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2,
                              kMarkParity = 3, kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0, kOne5StopBits = 1,
                              kTwoStopBits = 2;
/// fDtrControl and fRtsControl values.
inline constexpr std::uint32_t kDtrControlDisable = 0, kDtrControlEnable = 1,
                               kDtrControlHandshake = 2;
inline constexpr std::uint32_t kRtsControlDisable = 0, kRtsControlEnable = 1,
                               kRtsControlHandshake = 2, kRtsControlToggle = 3;

/// The driver's timeouts, as Win32's COMMTIMEOUTS.
struct CommTimeouts {
  /// In milliseconds, with Win32's meanings (0xFFFFFFFF interval with both
  /// read totals 0: a read returns at once).
  ///@{
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
  ///@}

  /// Field by field.
  bool operator==(const CommTimeouts&) const = default;
};

/// Queue state reported by ClearCommError. `Flags` holds the hold bits.
struct ComStat {
  /// The hold bits (kComStat...), and the bytes in the input and output
  /// queues.
  ///@{
  std::uint32_t Flags = 0;
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
  ///@}
};
inline constexpr std::uint32_t kComStatCtsHold = 1u << 0;
inline constexpr std::uint32_t kComStatDsrHold = 1u << 1;
inline constexpr std::uint32_t kComStatRlsdHold = 1u << 2;
inline constexpr std::uint32_t kComStatXoffHold = 1u << 3;
inline constexpr std::uint32_t kComStatXoffSent = 1u << 4;
inline constexpr std::uint32_t kComStatEof = 1u << 5;
inline constexpr std::uint32_t kComStatTxim = 1u << 6;

/// The record of one overlapped operation, laid out as OVERLAPPED.
/// Internal holds the operation's status while it runs and when it has ended
/// (kStatusPending, 0 for success, or an error number); InternalHigh holds the
/// byte count. hEvent is a manual-reset event, reset when the operation is
/// issued and set when it ends.
struct Overlapped {
  /// As OVERLAPPED's fields (the offsets are unused on serial devices).
  ///@{
  std::uintptr_t Internal = 0;
  std::uintptr_t InternalHigh = 0;
  std::uint32_t Offset = 0;
  std::uint32_t OffsetHigh = 0;
  Handle hEvent = 0;
  ///@}
};

// ---------------------------------------------------------------------------
// Values.

/// CreateFileW
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;

/// Event mask bits (SetCommMask, WaitCommEvent).
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvPErr = 0x0200;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;

/// PurgeComm flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

/// EscapeCommFunction codes.
inline constexpr std::uint32_t kSetXoff = 1;
inline constexpr std::uint32_t kSetXon = 2;
inline constexpr std::uint32_t kSetRts = 3;
inline constexpr std::uint32_t kClrRts = 4;
inline constexpr std::uint32_t kSetDtr = 5;
inline constexpr std::uint32_t kClrDtr = 6;
inline constexpr std::uint32_t kSetBreak = 8;
inline constexpr std::uint32_t kClrBreak = 9;

/// GetCommModemStatus bits.
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;

/// ClearCommError error bits.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

/// Waits.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned0 = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kMaxWaitObjects = 64;

/// Thread priorities (SetThreadPriority).
inline constexpr int kThreadPriorityIdle = -15;
inline constexpr int kThreadPriorityLowest = -2;
inline constexpr int kThreadPriorityBelowNormal = -1;
inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityAboveNormal = 1;
inline constexpr int kThreadPriorityHighest = 2;
inline constexpr int kThreadPriorityTimeCritical = 15;

/// Error numbers. People see the platform's own numbers: Win32 codes on
/// Windows, errno values on POSIX (2 is "file not found" on both). The
/// control-flow statuses pending and incomplete have the Win32 values on both,
/// which no errno value reaches.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorIoIncomplete = 996;
inline constexpr std::uint32_t kErrorIoPending = 997;
#ifdef _WIN32
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
#else
inline constexpr std::uint32_t kErrorAccessDenied = EBUSY;
inline constexpr std::uint32_t kErrorInvalidHandle = EBADF;
inline constexpr std::uint32_t kErrorInvalidParameter = EINVAL;
inline constexpr std::uint32_t kErrorNotSupported = ENOTSUP;
inline constexpr std::uint32_t kErrorGenFailure = EIO;
inline constexpr std::uint32_t kErrorOperationAborted = ECANCELED;
#endif

/// Overlapped::Internal while the operation runs.
inline constexpr std::uintptr_t kStatusPending = 0x103;

/// The serial calls the port makes, with kernel32's names, arguments and
/// outcomes on every platform: a bool result is the call's success, and a
/// failure leaves its number for GetLastError on the calling thread. A
/// program may put its own in place (ScopedApi), a fake in its tests.
/// Calls with an Overlapped record return at once (kErrorIoPending while
/// the operation runs); without one they block as Win32's do.
class CommApi {
 public:
  virtual ~CommApi() = default;

  /// Files and serial devices.
  virtual Handle CreateFileW(const std::u16string& path, std::uint32_t access,
                             std::uint32_t shareMode,
                             std::uint32_t creationDisposition,
                             std::uint32_t flags) = 0;
  /// Closes any handle: device, event or thread.
  virtual bool CloseHandle(Handle h) = 0;
  /// The serial calls of kernel32, one for one.
  ///@{
  virtual bool SetupComm(Handle h, std::uint32_t inQueue,
                         std::uint32_t outQueue) = 0;
  virtual bool SetCommState(Handle h, const Dcb& dcb) = 0;
  virtual bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) = 0;
  virtual bool SetCommMask(Handle h, std::uint32_t mask) = 0;
  virtual bool WaitCommEvent(Handle h, std::uint32_t* mask, Overlapped* ov) = 0;
  virtual bool ClearCommError(Handle h, std::uint32_t* errors,
                              ComStat* stat) = 0;
  virtual bool GetCommModemStatus(Handle h, std::uint32_t* status) = 0;
  virtual bool EscapeCommFunction(Handle h, std::uint32_t func) = 0;
  virtual bool TransmitCommChar(Handle h, char ch) = 0;
  virtual bool PurgeComm(Handle h, std::uint32_t flags) = 0;
  virtual bool WriteFile(Handle h, const void* buffer, std::uint32_t count,
                         std::uint32_t* written, Overlapped* ov) = 0;
  virtual bool ReadFile(Handle h, void* buffer, std::uint32_t count,
                        std::uint32_t* read, Overlapped* ov) = 0;
  virtual bool GetOverlappedResult(Handle h, Overlapped* ov,
                                   std::uint32_t* transferred, bool wait) = 0;
  ///@}

  /// The calling thread's last error.
  ///@{
  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;
  ///@}

  /// Events and waits.
  ///@{
  virtual Handle CreateEventW(bool manualReset, bool initialState) = 0;
  virtual bool SetEvent(Handle h) = 0;
  virtual bool ResetEvent(Handle h) = 0;
  ///@}
  /// Waits on events and threads (a thread is signalled once it has ended).
  /// Each blocks up to `milliseconds` (kInfinite: without limit).
  ///@{
  virtual std::uint32_t WaitForSingleObject(Handle h,
                                            std::uint32_t milliseconds) = 0;
  virtual std::uint32_t WaitForMultipleObjects(std::uint32_t count,
                                               const Handle* handles,
                                               bool waitAll,
                                               std::uint32_t milliseconds) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  ///@}

  /// Threads. The body's result is the thread's exit code.
  virtual Handle CreateThread(std::function<std::uint32_t()> body,
                              bool suspended) = 0;
  /// The previous suspend count, or 0xFFFFFFFF on failure.
  virtual std::uint32_t ResumeThread(Handle thread) = 0;
  /// Priority from -15 (idle) to 15 (time-critical).
  virtual bool SetThreadPriority(Handle thread, int priority) = 0;
  /// kStillActive while the thread runs.
  virtual bool GetExitCodeThread(Handle thread, std::uint32_t* exitCode) = 0;

  /// The system's text for an error number (FormatMessageW / strerror),
  /// without a trailing line end; empty when the system has none.
  virtual std::u16string FormatMessageW(std::uint32_t code) = 0;
};

inline constexpr std::uint32_t kStillActive = 259;

/// The process-wide implementation the component calls: the platform's own
/// backend unless a test has put another in place.
CommApi& Api();

/// Puts `api` in place for the lifetime of this object (tests).
class ScopedApi {
 public:
  /// `api` serves every port of the process until this object goes.
  explicit ScopedApi(CommApi& api);
  ~ScopedApi();
  ScopedApi(const ScopedApi&) = delete;
  ScopedApi& operator=(const ScopedApi&) = delete;

 private:
  CommApi* previous_;
};

/// The platform's own backend (Win32 pass-through or the POSIX emulation).
CommApi& PlatformApi();

}  // namespace cport::comm
