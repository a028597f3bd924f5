// Overlapped and blocking reads and writes, and their text forms.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>

#include "cport/comport.h"
#include "cport/fw/text.h"

namespace cport {
namespace {

std::u16string Decode(std::uint32_t codePage, const std::uint8_t* bytes,
                      std::int32_t count) {
  return cport::fw::MultiByteToWide(
      codePage, std::string_view(reinterpret_cast<const char*>(bytes),
                                 static_cast<std::size_t>(count)));
}

// For a port that a link's handler destroyed: its Close ended the
// operation, and only the record is left to release once its event is set.
void AwaitRecordAlone(const TAsync& async) {
  cport::comm::Api().WaitForSingleObject(async.Overlapped.hEvent,
                                         cport::comm::kInfinite);
}

}  // namespace

bool TCustomComPort::CheckAsync(PAsync AsyncPtr) {
  if (AsyncPtr != nullptr) return true;
  RaisePortError(CodeOf(CE_InvalidAsync), 0);
  return false;
}

bool TCustomComPort::CheckOpen() {
  return FHandle != cport::comm::kInvalidHandle ||
         RaisePortError(CodeOf(CEPortNotOpen), -CodeOf(CEPortNotOpen));
}

bool TCustomComPort::CheckCodePage(std::uint16_t code) {
  if (cport::fw::IsCodePageAvailable(FCodePage)) return true;
  // As the system's own conversion reports an unknown code page.
  cport::comm::Api().SetLastError(cport::comm::kErrorInvalidParameter);
  RaiseLastError(code);
  return false;
}

std::int32_t TCustomComPort::Issue(TOperationKind kind, void* Buffer,
                                   std::int32_t Count, TAsync& async) {
  cport::comm::CommApi& api = cport::comm::Api();
  const auto count = static_cast<std::uint32_t>(Count);
  std::uint32_t done = 0;
  const bool ok =
      kind == okWrite
          ? api.WriteFile(FHandle, Buffer, count, &done, &async.Overlapped)
          : api.ReadFile(FHandle, Buffer, count, &done, &async.Overlapped);
  async.EndedAtOnce = ok;
  if (!ok && api.GetLastError() != cport::comm::kErrorIoPending)
    RaiseLastError(CodeOf(kind == okWrite ? CE_WriteFailed : CE_ReadFailed));
  return static_cast<std::int32_t>(done);
}

std::int32_t TCustomComPort::WriteAsync(const void* Buffer, std::int32_t Count,
                                        PAsync& AsyncPtr) {
  if (!CheckAsync(AsyncPtr)) return 0;
  // The driver writes from the record's own copy, so the caller's buffer
  // need not outlive the call.
  return StartWrite(Buffer, Count, *AsyncPtr, true);
}

std::int32_t TCustomComPort::StartWrite(const void* Buffer, std::int32_t Count,
                                        TAsync& async, bool copy) {
  // A negative count would read outside the caller's buffer.
  if (Count < 0) {
    RaisePortError(CodeOf(CE_WriteFailed), cport::comm::kErrorInvalidParameter);
    return 0;
  }
  if (!CheckOpen()) return 0;
  async.Kind = okWrite;
  async.Copy.reset();
  // Never null, as a copy of no bytes is not: the links hear of every
  // write.
  static constexpr std::uint8_t kNoBytes[1] = {};
  async.Data =
      Buffer != nullptr ? static_cast<const std::uint8_t*>(Buffer) : kNoBytes;
  if (copy) {
    async.Copy = std::make_unique_for_overwrite<std::uint8_t[]>(
        static_cast<std::size_t>(Count));
    if (Count > 0)
      std::memcpy(async.Copy.get(), Buffer, static_cast<std::size_t>(Count));
    async.Data = async.Copy.get();
  }
  async.Size = Count;
  async.TextBytes.clear();
  async.Text.clear();
  std::int32_t written = 0;
  if (InTurn([&] {
        written =
            Issue(okWrite, const_cast<std::uint8_t*>(async.Data), Count, async);
      }))
    TellLinks(&TComLink::OnTx, true);
  return written;
}

std::int32_t TCustomComPort::ReadAsync(void* Buffer, std::int32_t Count,
                                       PAsync& AsyncPtr) {
  if (!CheckAsync(AsyncPtr)) return 0;
  AsyncPtr->TextBytes.clear();
  AsyncPtr->Text.clear();
  return StartRead(Buffer, Count, *AsyncPtr);
}

std::int32_t TCustomComPort::StartRead(void* Buffer, std::int32_t Count,
                                       TAsync& async) {
  async.Kind = okRead;
  // A negative count would write outside the caller's buffer.
  if (Count < 0) {
    RaisePortError(CodeOf(CE_ReadFailed), cport::comm::kErrorInvalidParameter);
    return 0;
  }
  if (!CheckOpen()) return 0;
  return Issue(okRead, Buffer, Count, async);
}

std::int32_t TCustomComPort::WriteStrAsync(const std::u16string& Str,
                                           PAsync& AsyncPtr) {
  if (Str.empty()) return 0;
  const std::string bytes = cport::fw::WideToMultiByte(cport::fw::kCpAcp, Str);
  return WriteAsync(bytes.data(), static_cast<std::int32_t>(bytes.size()),
                    AsyncPtr);
}

std::int32_t TCustomComPort::ReadStrAsync(std::u16string& Str,
                                          std::int32_t Count,
                                          PAsync& AsyncPtr) {
  // The text only ever holds characters of bytes actually received.
  Str.clear();
  if (Count < 1 || !CheckAsync(AsyncPtr)) return 0;
  TAsync& async = *AsyncPtr;
  async.TextBytes.assign(static_cast<std::size_t>(Count), 0);
  async.Text.clear();
  const std::int32_t received = StartRead(async.TextBytes.data(), Count, async);
  async.Text = Decode(cport::fw::kCpAcp, async.TextBytes.data(), received);
  Str = async.Text;
  return received;
}

std::int32_t TCustomComPort::WaitForAsync(PAsync& AsyncPtr) {
  if (!CheckAsync(AsyncPtr)) return 0;
  bool reusable = false;
  return Await(*AsyncPtr, true, reusable);
}

std::int32_t TCustomComPort::Await(TAsync& async, bool wait, bool& reusable) {
  cport::comm::CommApi& api = cport::comm::Api();
  std::uint32_t done = 0;
  const bool signalled =
      !wait || api.WaitForSingleObject(async.Overlapped.hEvent,
                                       cport::comm::kInfinite) ==
                   cport::comm::kWaitObject0;
  if (!signalled ||
      !api.GetOverlappedResult(FHandle, &async.Overlapped, &done, false)) {
    done = 0;
    if (!RaiseLastError(
            CodeOf(async.Kind == okWrite ? CE_WriteFailed : CE_ReadFailed)))
      return 0;
  }
  const auto count = static_cast<std::int32_t>(done);
  bool portKept = true;
  if (async.Kind == okRead) {
    if (!async.TextBytes.empty())
      async.Text = Decode(cport::fw::kCpAcp, async.TextBytes.data(), count);
    std::int32_t queued = 0;
    portKept = InTurn([&] { queued = InputCount(); }) &&
               (queued != 0 || TellLinks(&TComLink::OnRx, false));
  } else if (async.Data != nullptr) {
    portKept = TellLinks(&TComLink::OnTxBuf, async.Data, async.Size);
  }
  reusable = signalled && portKept;
  return count;
}

bool TCustomComPort::IsAsyncCompleted(PAsync AsyncPtr) {
  if (!CheckAsync(AsyncPtr)) return false;
  cport::comm::CommApi& api = cport::comm::Api();
  std::uint32_t done = 0;
  if (api.GetOverlappedResult(FHandle, &AsyncPtr->Overlapped, &done, false))
    return true;
  const std::uint32_t error = api.GetLastError();
  if (error == cport::comm::kErrorIoPending ||
      error == cport::comm::kErrorIoIncomplete)
    return false;
  RaisePortError(CodeOf(CE_AsyncCheck), error);
  return false;
}

template <class IssueFn, class CompletedFn>
std::int32_t TCustomComPort::RunBlocking(const IssueFn& issue,
                                         const CompletedFn& completed) {
  ScopedAsync async(FSpareAsync);
  const Watch watch(this);
  try {
    issue(async.Ptr());
  } catch (...) {
    // An operation issued before the error (a link's handler may throw
    // after the issue) must end before its record is released.
    if (watch.PortGone()) {
      AwaitRecordAlone(*async.Ptr());
      throw;
    }
    std::uint32_t done = 0;
    cport::comm::CommApi& api = cport::comm::Api();
    if (!api.GetOverlappedResult(FHandle, &async.Ptr()->Overlapped, &done,
                                 false) &&
        (api.GetLastError() == cport::comm::kErrorIoIncomplete ||
         api.GetLastError() == cport::comm::kErrorIoPending))
      api.WaitForSingleObject(async.Ptr()->Overlapped.hEvent,
                              cport::comm::kInfinite);
    throw;
  }
  if (watch.PortGone()) {
    AwaitRecordAlone(*async.Ptr());
    return 0;
  }
  // An operation that completed at once needs no wait: its event is set,
  // and the record holds its outcome.
  bool reusable = false;
  const std::int32_t count =
      Await(*async.Ptr(), !async.Ptr()->EndedAtOnce, reusable);
  // A record whose wait failed, or whose port a link's handler destroyed,
  // is released instead.
  if (reusable) async.Keep();
  if constexpr (!std::is_null_pointer_v<CompletedFn>) completed(*async.Ptr());
  return count;
}

std::int32_t TCustomComPort::Write(const void* Buffer, std::int32_t Count) {
  // The caller's buffer outlives the blocking write: no copy is needed.
  return RunBlocking([&](PAsync& p) { StartWrite(Buffer, Count, *p, false); });
}

std::int32_t TCustomComPort::WriteStr(const std::u16string& Str) {
  return RunBlocking([&](PAsync& p) { WriteStrAsync(Str, p); });
}

std::int32_t TCustomComPort::Read(void* Buffer, std::int32_t Count) {
  return RunBlocking([&](PAsync& p) { ReadAsync(Buffer, Count, p); });
}

std::int32_t TCustomComPort::ReadStr(std::u16string& Str, std::int32_t Count) {
  return RunBlocking([&](PAsync& p) { ReadStrAsync(Str, Count, p); },
                     [&](const TAsync& async) { Str = async.Text; });
}

std::int32_t TCustomComPort::WriteUnicodeString(const std::u16string& Str) {
  // Nothing is sent in a code page that cannot be converted.
  if (!CheckCodePage(CodeOf(CE_WriteFailed))) return 0;
  const std::string bytes = cport::fw::WideToMultiByte(FCodePage, Str);
  return RunBlocking([&](PAsync& p) {
    if (!bytes.empty())
      StartWrite(bytes.data(), static_cast<std::int32_t>(bytes.size()), *p,
                 false);
  });
}

std::int32_t TCustomComPort::ReadUnicodeString(std::u16string& Str,
                                               std::int32_t Count) {
  Str.clear();
  // Checked before reading: the received bytes stay queued.
  if (!CheckCodePage(CodeOf(CE_ReadFailed)) || Count < 1) return 0;
  // Taken before the read: a link's handler may destroy the port in it.
  const std::uint32_t codePage = FCodePage;
  std::string bytes(static_cast<std::size_t>(Count), '\0');
  bytes.resize(
      static_cast<std::size_t>(std::max(0, Read(bytes.data(), Count))));
  Str = cport::fw::MultiByteToWide(codePage, bytes);
  return static_cast<std::int32_t>(Str.size());
}

}  // namespace cport
