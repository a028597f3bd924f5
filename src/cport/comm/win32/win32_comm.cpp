// The serial calls on Windows: kernel32 itself. The comm API's blocks have
// the Win32 layouts, so they are handed to the system as they are.
#include <windows.h>

#include <bit>
#include <cstddef>
#include <cstring>

#include "cport/comm/native_sync.h"

namespace cport::comm {
namespace {

static_assert(sizeof(Dcb) == sizeof(DCB));
static_assert(offsetof(Dcb, BaudRate) == offsetof(DCB, BaudRate));
static_assert(offsetof(Dcb, wReserved) == offsetof(DCB, wReserved));
static_assert(offsetof(Dcb, XonLim) == offsetof(DCB, XonLim));
static_assert(offsetof(Dcb, XoffLim) == offsetof(DCB, XoffLim));
static_assert(offsetof(Dcb, ByteSize) == offsetof(DCB, ByteSize));
static_assert(offsetof(Dcb, Parity) == offsetof(DCB, Parity));
static_assert(offsetof(Dcb, StopBits) == offsetof(DCB, StopBits));
static_assert(offsetof(Dcb, XonChar) == offsetof(DCB, XonChar));
static_assert(offsetof(Dcb, XoffChar) == offsetof(DCB, XoffChar));
static_assert(offsetof(Dcb, ErrorChar) == offsetof(DCB, ErrorChar));
static_assert(offsetof(Dcb, EofChar) == offsetof(DCB, EofChar));
static_assert(offsetof(Dcb, EvtChar) == offsetof(DCB, EvtChar));
static_assert(offsetof(Dcb, wReserved1) == offsetof(DCB, wReserved1));

// The bit fields of DCB sit where Dcb::Flags says.
constexpr std::uint32_t DcbFlags(void (*set)(DCB&)) {
  DCB dcb{};
  set(dcb);
  return std::bit_cast<Dcb>(dcb).Flags;
}
static_assert(DcbFlags([](DCB& d) { d.fBinary = 1; }) == kDcbBinary);
static_assert(DcbFlags([](DCB& d) { d.fParity = 1; }) == kDcbParity);
static_assert(DcbFlags([](DCB& d) { d.fOutxCtsFlow = 1; }) == kDcbOutxCtsFlow);
static_assert(DcbFlags([](DCB& d) { d.fOutxDsrFlow = 1; }) == kDcbOutxDsrFlow);
static_assert(DcbFlags([](DCB& d) { d.fDtrControl = 3; }) ==
              kDcbDtrControlMask);
static_assert(DcbFlags([](DCB& d) { d.fDsrSensitivity = 1; }) ==
              kDcbDsrSensitivity);
static_assert(DcbFlags([](DCB& d) { d.fTXContinueOnXoff = 1; }) ==
              kDcbTxContinueOnXoff);
static_assert(DcbFlags([](DCB& d) { d.fOutX = 1; }) == kDcbOutX);
static_assert(DcbFlags([](DCB& d) { d.fInX = 1; }) == kDcbInX);
static_assert(DcbFlags([](DCB& d) { d.fErrorChar = 1; }) == kDcbErrorChar);
static_assert(DcbFlags([](DCB& d) { d.fNull = 1; }) == kDcbNull);
static_assert(DcbFlags([](DCB& d) { d.fRtsControl = 3; }) ==
              kDcbRtsControlMask);
static_assert(DcbFlags([](DCB& d) { d.fAbortOnError = 1; }) ==
              kDcbAbortOnError);

static_assert(sizeof(CommTimeouts) == sizeof(COMMTIMEOUTS));
static_assert(offsetof(CommTimeouts, ReadIntervalTimeout) ==
              offsetof(COMMTIMEOUTS, ReadIntervalTimeout));
static_assert(offsetof(CommTimeouts, ReadTotalTimeoutMultiplier) ==
              offsetof(COMMTIMEOUTS, ReadTotalTimeoutMultiplier));
static_assert(offsetof(CommTimeouts, ReadTotalTimeoutConstant) ==
              offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant));
static_assert(offsetof(CommTimeouts, WriteTotalTimeoutMultiplier) ==
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutMultiplier));
static_assert(offsetof(CommTimeouts, WriteTotalTimeoutConstant) ==
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant));

static_assert(sizeof(ComStat) == sizeof(COMSTAT));
static_assert(offsetof(ComStat, cbInQue) == offsetof(COMSTAT, cbInQue));
static_assert(offsetof(ComStat, cbOutQue) == offsetof(COMSTAT, cbOutQue));
constexpr std::uint32_t ComStatFlags(void (*set)(COMSTAT&)) {
  COMSTAT stat{};
  set(stat);
  return std::bit_cast<ComStat>(stat).Flags;
}
static_assert(ComStatFlags([](COMSTAT& s) { s.fCtsHold = 1; }) ==
              kComStatCtsHold);
static_assert(ComStatFlags([](COMSTAT& s) { s.fDsrHold = 1; }) ==
              kComStatDsrHold);
static_assert(ComStatFlags([](COMSTAT& s) { s.fRlsdHold = 1; }) ==
              kComStatRlsdHold);
static_assert(ComStatFlags([](COMSTAT& s) { s.fXoffHold = 1; }) ==
              kComStatXoffHold);
static_assert(ComStatFlags([](COMSTAT& s) { s.fXoffSent = 1; }) ==
              kComStatXoffSent);
static_assert(ComStatFlags([](COMSTAT& s) { s.fEof = 1; }) == kComStatEof);
static_assert(ComStatFlags([](COMSTAT& s) { s.fTxim = 1; }) == kComStatTxim);

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, Internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, InternalHigh) ==
              offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, Offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(Overlapped, OffsetHigh) ==
              offsetof(OVERLAPPED, OffsetHigh));
static_assert(offsetof(Overlapped, hEvent) == offsetof(OVERLAPPED, hEvent));

static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(kStatusPending == STATUS_PENDING);
static_assert(kErrorIoPending == ERROR_IO_PENDING);
static_assert(kErrorIoIncomplete == ERROR_IO_INCOMPLETE);
static_assert(kErrorOperationAborted == ERROR_OPERATION_ABORTED);
static_assert(kStillActive == STILL_ACTIVE);

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
// The system keeps writing into an overlapped record, its event mask and its
// counts after the call returns, so the caller's own storage is handed over.
OVERLAPPED* Ov(Overlapped* ov) { return reinterpret_cast<OVERLAPPED*>(ov); }
DWORD* Dw(std::uint32_t* value) { return reinterpret_cast<DWORD*>(value); }

class Win32Comm final : public NativeSync {
 public:
  Handle CreateFileW(const std::u16string& path, std::uint32_t access,
                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                     std::uint32_t flags) override {
    return reinterpret_cast<Handle>(
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), access,
                      shareMode, nullptr, creationDisposition, flags, nullptr));
  }
  bool SetupComm(Handle h, std::uint32_t inQueue,
                 std::uint32_t outQueue) override {
    return ::SetupComm(H(h), inQueue, outQueue) != 0;
  }
  bool SetCommState(Handle h, const Dcb& dcb) override {
    DCB native;
    std::memcpy(&native, &dcb, sizeof native);
    return ::SetCommState(H(h), &native) != 0;
  }
  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override {
    COMMTIMEOUTS native;
    std::memcpy(&native, &timeouts, sizeof native);
    return ::SetCommTimeouts(H(h), &native) != 0;
  }
  bool SetCommMask(Handle h, std::uint32_t mask) override {
    return ::SetCommMask(H(h), mask) != 0;
  }
  bool WaitCommEvent(Handle h, std::uint32_t* mask, Overlapped* ov) override {
    return ::WaitCommEvent(H(h), Dw(mask), Ov(ov)) != 0;
  }
  bool ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) override {
    return ::ClearCommError(H(h), Dw(errors),
                            reinterpret_cast<COMSTAT*>(stat)) != 0;
  }
  bool GetCommModemStatus(Handle h, std::uint32_t* status) override {
    return ::GetCommModemStatus(H(h), Dw(status)) != 0;
  }
  bool EscapeCommFunction(Handle h, std::uint32_t func) override {
    return ::EscapeCommFunction(H(h), func) != 0;
  }
  bool TransmitCommChar(Handle h, char ch) override {
    return ::TransmitCommChar(H(h), ch) != 0;
  }
  bool PurgeComm(Handle h, std::uint32_t flags) override {
    return ::PurgeComm(H(h), flags) != 0;
  }
  bool WriteFile(Handle h, const void* buffer, std::uint32_t count,
                 std::uint32_t* written, Overlapped* ov) override {
    return ::WriteFile(H(h), buffer, count, Dw(written), Ov(ov)) != 0;
  }
  bool ReadFile(Handle h, void* buffer, std::uint32_t count,
                std::uint32_t* read, Overlapped* ov) override {
    return ::ReadFile(H(h), buffer, count, Dw(read), Ov(ov)) != 0;
  }
  bool GetOverlappedResult(Handle h, Overlapped* ov, std::uint32_t* transferred,
                           bool wait) override {
    return ::GetOverlappedResult(H(h), Ov(ov), Dw(transferred), wait) != 0;
  }
};

}  // namespace

CommApi& PlatformApi() {
  static Win32Comm api;
  return api;
}

}  // namespace cport::comm
