#include "cport/comm/fake/fake_comm.h"

#include <algorithm>
#include <stdexcept>

namespace cport::comm {

struct FakeComm::Op {
  Overlapped* ov = nullptr;
  std::uint8_t* readBuffer = nullptr;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> bytes;  // a pending write's data
  std::uint32_t* mask = nullptr;    // a pending WaitCommEvent's mask
};

struct FakeComm::Device {
  std::u16string path;
  bool open = true;
  Dcb dcb{};
  CommTimeouts timeouts{};
  std::deque<std::uint8_t> input;
  std::vector<std::uint8_t> written;
  std::deque<Op> reads;
  std::deque<Op> writes;
  std::optional<Op> wait;
  std::uint32_t eventMask = 0;
  std::uint32_t latched = 0;  // events that occurred while no wait was armed
  std::uint32_t modem = 0;
  std::uint32_t errors = 0;
  std::uint32_t statFlags = 0;
  std::uint32_t outQueue = 0;
  WriteMode writeMode = WriteMode::kComplete;
  std::uint32_t shortCount = 0;

  // Reads return at once with what is queued (MAXDWORD interval, no totals).
  bool ReadsReturnAtOnce() const {
    return timeouts.ReadIntervalTimeout == 0xFFFFFFFFu &&
           timeouts.ReadTotalTimeoutMultiplier == 0 &&
           timeouts.ReadTotalTimeoutConstant == 0;
  }
  std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>(count, input.size()));
    std::copy_n(input.begin(), n, buffer);
    input.erase(input.begin(), input.begin() + n);
    return n;
  }
};

namespace {

// Device handles live far above the values of event and thread handles.
constexpr Handle kFirstDeviceHandle = 0x7D000000;

// What a driver accepts, as the real backends check it.
constexpr std::uint32_t kAllEvents = kEvRxChar | kEvRxFlag | kEvTxEmpty |
                                     kEvCts | kEvDsr | kEvRlsd | kEvBreak |
                                     kEvErr | kEvRing | kEvPErr | kEvRx80Full;
constexpr std::uint32_t kAllPurges =
    kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;

bool IsEscapeCode(std::uint32_t func) {
  switch (func) {
    case kSetXoff:
    case kSetXon:
    case kSetRts:
    case kClrRts:
    case kSetDtr:
    case kClrDtr:
    case kSetBreak:
    case kClrBreak:
      return true;
    default:
      return false;
  }
}

// A failed call's outcome: false with `error` for GetLastError.
bool Refuse(FakeComm& fake, std::uint32_t error) {
  fake.SetLastError(error);
  return false;
}

FakeCall MakeCall(std::string name, Handle h,
                  std::vector<std::uint64_t> args = {}) {
  FakeCall call;
  call.name = std::move(name);
  call.handle = h;
  call.args = std::move(args);
  return call;
}

bool IsComPath(std::u16string_view path) {
  // Device names are not case-sensitive.
  constexpr std::u16string_view kPrefix = u"\\\\.\\";
  if (path.size() <= kPrefix.size() + 3 ||
      path.substr(0, kPrefix.size()) != kPrefix)
    return false;
  const std::u16string_view com = path.substr(kPrefix.size(), 3);
  const std::u16string_view digits = path.substr(kPrefix.size() + 3);
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; };
  return upper(com[0]) == u'C' && upper(com[1]) == u'O' &&
         upper(com[2]) == u'M' && digits[0] != u'0' &&
         std::all_of(digits.begin(), digits.end(),
                     [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

}  // namespace

FakeComm::FakeComm() : next_(kFirstDeviceHandle) {}
FakeComm::~FakeComm() = default;

// --- Bookkeeping -------------------------------------------------------------

FakeComm::Device* FakeComm::Find(Handle h) {
  auto it = devices_.find(h);
  return it == devices_.end() ? nullptr : it->second.get();
}

const FakeComm::Device* FakeComm::Find(Handle h) const {
  auto it = devices_.find(h);
  return it == devices_.end() ? nullptr : it->second.get();
}

Handle FakeComm::Resolve(Handle h) const { return h != 0 ? h : last_; }

void FakeComm::Record(FakeCall call) { calls_.push_back(std::move(call)); }

bool FakeComm::Begin(FakeCall call, Device** device) {
  const std::string name = call.name;
  const Handle h = call.handle;
  Record(std::move(call));
  auto failure = std::find_if(failures_.begin(), failures_.end(),
                              [&](const Failure& f) { return f.name == name; });
  if (failure != failures_.end()) {
    SetLastError(failure->error);
    if (!failure->always) failures_.erase(failure);
    return false;
  }
  if (device == nullptr) return true;
  *device = Find(h);
  if (*device == nullptr || !(*device)->open) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

void FakeComm::Complete(Overlapped* ov, std::uint32_t status,
                        std::uint32_t count) {
  ov->Internal = status;
  ov->InternalHigh = count;
  NativeSync::SetEvent(ov->hEvent);
}

void FakeComm::ServeReads(Device& d) {
  while (!d.reads.empty() &&
         (d.ReadsReturnAtOnce() || d.input.size() >= d.reads.front().count)) {
    Op op = d.reads.front();
    d.reads.pop_front();
    Complete(op.ov, kErrorSuccess, d.Take(op.readBuffer, op.count));
  }
}

void FakeComm::ServeWait(Device& d) {
  if (!d.wait || d.latched == 0) return;
  *d.wait->mask = d.latched;
  d.latched = 0;
  Complete(d.wait->ov, kErrorSuccess, 0);
  d.wait.reset();
}

void FakeComm::AbortAll(Device& d, bool reads, bool writes, bool waits) {
  if (reads) {
    for (Op& op : d.reads) Complete(op.ov, kErrorOperationAborted, 0);
    d.reads.clear();
  }
  if (writes) {
    for (Op& op : d.writes) Complete(op.ov, kErrorOperationAborted, 0);
    d.writes.clear();
  }
  if (waits && d.wait) {
    Complete(d.wait->ov, kErrorOperationAborted, 0);
    d.wait.reset();
  }
}

// --- The calls ---------------------------------------------------------------

Handle FakeComm::CreateFileW(const std::u16string& path, std::uint32_t access,
                             std::uint32_t shareMode,
                             std::uint32_t creationDisposition,
                             std::uint32_t flags) {
  std::lock_guard guard(lock_);
  FakeCall call = MakeCall("CreateFileW", 0,
                           {access, shareMode, creationDisposition, flags});
  call.path = path;
  if (!Begin(std::move(call), nullptr)) return kInvalidHandle;
  auto known = exists_.find(path);
  if (known != exists_.end() ? !known->second : !IsComPath(path)) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  // Exclusive: a device opens once at a time.
  for (const auto& [h, d] : devices_) {
    if (d->open && d->path == path) {
      SetLastError(kErrorAccessDenied);
      return kInvalidHandle;
    }
  }
  auto device = std::make_unique<Device>();
  device->path = path;
  device->modem = initialModem_;
  device->errors = initialErrors_;
  const Handle h = next_;
  next_ += 4;
  devices_.emplace(h, std::move(device));
  last_ = h;
  return h;
}

bool FakeComm::CloseHandle(Handle h) {
  {
    std::lock_guard guard(lock_);
    if (devices_.count(h) != 0) {
      Device* d = nullptr;
      if (!Begin(MakeCall("CloseHandle", h), &d)) return false;
      // Closing a handle ends the operations still pending on it.
      AbortAll(*d, true, true, true);
      d->open = false;
      return true;
    }
  }
  return NativeSync::CloseHandle(h);
}

bool FakeComm::SetupComm(Handle h, std::uint32_t inQueue,
                         std::uint32_t outQueue) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  return Begin(MakeCall("SetupComm", h, {inQueue, outQueue}), &d);
}

bool FakeComm::SetCommState(Handle h, const Dcb& dcb) {
  std::lock_guard guard(lock_);
  FakeCall call = MakeCall("SetCommState", h);
  call.dcb = dcb;
  Device* d = nullptr;
  if (!Begin(std::move(call), &d)) return false;
  d->dcb = dcb;
  return true;
}

bool FakeComm::SetCommTimeouts(Handle h, const CommTimeouts& timeouts) {
  std::lock_guard guard(lock_);
  FakeCall call = MakeCall("SetCommTimeouts", h);
  call.timeouts = timeouts;
  Device* d = nullptr;
  if (!Begin(std::move(call), &d)) return false;
  d->timeouts = timeouts;
  return true;
}

bool FakeComm::SetCommMask(Handle h, std::uint32_t mask) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("SetCommMask", h, {mask}), &d)) return false;
  if ((mask & ~kAllEvents) != 0) return Refuse(*this, kErrorInvalidParameter);
  d->eventMask = mask;
  d->latched = 0;
  // A new mask ends a pending wait with no events.
  if (d->wait) {
    *d->wait->mask = 0;
    Complete(d->wait->ov, kErrorSuccess, 0);
    d->wait.reset();
  }
  return true;
}

bool FakeComm::WaitCommEvent(Handle h, std::uint32_t* mask, Overlapped* ov) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("WaitCommEvent", h), &d)) return false;
  // One wait at a time, and only for events asked for.
  if (d->wait || d->eventMask == 0 || mask == nullptr)
    return Refuse(*this, kErrorInvalidParameter);
  d->wait = Op{ov, nullptr, 0, {}, mask};
  ov->Internal = kStatusPending;
  ov->InternalHigh = 0;
  NativeSync::ResetEvent(ov->hEvent);
  if (d->latched != 0) {
    ServeWait(*d);
    return true;
  }
  SetLastError(kErrorIoPending);
  return false;
}

bool FakeComm::ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("ClearCommError", h), &d)) return false;
  if (errors != nullptr) *errors = d->errors;
  d->errors = 0;
  if (stat != nullptr) {
    stat->Flags = d->statFlags;
    stat->cbInQue = static_cast<std::uint32_t>(d->input.size());
    stat->cbOutQue = d->outQueue;
  }
  return true;
}

bool FakeComm::GetCommModemStatus(Handle h, std::uint32_t* status) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("GetCommModemStatus", h), &d)) return false;
  *status = d->modem;
  return true;
}

bool FakeComm::EscapeCommFunction(Handle h, std::uint32_t func) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("EscapeCommFunction", h, {func}), &d)) return false;
  return IsEscapeCode(func) || Refuse(*this, kErrorInvalidParameter);
}

bool FakeComm::TransmitCommChar(Handle h, char ch) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  const auto byte = static_cast<std::uint8_t>(ch);
  if (!Begin(MakeCall("TransmitCommChar", h, {byte}), &d)) return false;
  d->written.push_back(byte);
  return true;
}

bool FakeComm::PurgeComm(Handle h, std::uint32_t flags) {
  std::lock_guard guard(lock_);
  Device* d = nullptr;
  if (!Begin(MakeCall("PurgeComm", h, {flags}), &d)) return false;
  if ((flags & ~kAllPurges) != 0) return Refuse(*this, kErrorInvalidParameter);
  AbortAll(*d, (flags & kPurgeRxAbort) != 0, (flags & kPurgeTxAbort) != 0,
           false);
  if ((flags & kPurgeRxClear) != 0) d->input.clear();
  if ((flags & kPurgeTxClear) != 0) d->outQueue = 0;
  return true;
}

bool FakeComm::WriteFile(Handle h, const void* buffer, std::uint32_t count,
                         std::uint32_t* written, Overlapped* ov) {
  std::lock_guard guard(lock_);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  FakeCall call = MakeCall("WriteFile", h, {count});
  call.bytes.assign(bytes, bytes + count);
  *written = 0;
  Device* d = nullptr;
  if (!Begin(call, &d)) return false;
  ov->Internal = kStatusPending;
  ov->InternalHigh = 0;
  NativeSync::ResetEvent(ov->hEvent);
  if (d->writeMode == WriteMode::kPending) {
    d->writes.push_back(Op{ov, nullptr, count, std::move(call.bytes), nullptr});
    SetLastError(kErrorIoPending);
    return false;
  }
  const std::uint32_t n = d->writeMode == WriteMode::kShort
                              ? std::min(count, d->shortCount)
                              : count;
  d->written.insert(d->written.end(), bytes, bytes + n);
  *written = n;
  Complete(ov, kErrorSuccess, n);
  return true;
}

bool FakeComm::ReadFile(Handle h, void* buffer, std::uint32_t count,
                        std::uint32_t* read, Overlapped* ov) {
  std::lock_guard guard(lock_);
  *read = 0;
  Device* d = nullptr;
  if (!Begin(MakeCall("ReadFile", h, {count}), &d)) return false;
  ov->Internal = kStatusPending;
  ov->InternalHigh = 0;
  NativeSync::ResetEvent(ov->hEvent);
  auto* target = static_cast<std::uint8_t*>(buffer);
  if (d->ReadsReturnAtOnce() || d->input.size() >= count) {
    *read = d->Take(target, count);
    Complete(ov, kErrorSuccess, *read);
    return true;
  }
  d->reads.push_back(Op{ov, target, count, {}, nullptr});
  SetLastError(kErrorIoPending);
  return false;
}

bool FakeComm::GetOverlappedResult(Handle h, Overlapped* ov,
                                   std::uint32_t* transferred, bool wait) {
  std::unique_lock guard(lock_);
  if (!Begin(MakeCall("GetOverlappedResult", h, {wait ? 1u : 0u}), nullptr))
    return false;
  if (ov->Internal == kStatusPending) {
    if (!wait) {
      SetLastError(kErrorIoIncomplete);
      return false;
    }
    guard.unlock();
    NativeSync::WaitForSingleObject(ov->hEvent, kInfinite);
    guard.lock();
  }
  *transferred = static_cast<std::uint32_t>(ov->InternalHigh);
  if (ov->Internal != kErrorSuccess) {
    SetLastError(static_cast<std::uint32_t>(ov->Internal));
    return false;
  }
  return true;
}

// --- The record --------------------------------------------------------------

std::vector<FakeCall> FakeComm::Calls() const {
  std::lock_guard guard(lock_);
  return calls_;
}

std::vector<FakeCall> FakeComm::Calls(std::string_view name) const {
  std::lock_guard guard(lock_);
  std::vector<FakeCall> result;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
               [&](const FakeCall& c) { return c.name == name; });
  return result;
}

std::vector<std::string> FakeComm::CallNames() const {
  std::lock_guard guard(lock_);
  std::vector<std::string> names;
  for (const FakeCall& c : calls_) names.push_back(c.name);
  return names;
}

std::vector<std::string> FakeComm::CallNames(
    std::initializer_list<std::string_view> only) const {
  std::lock_guard guard(lock_);
  std::vector<std::string> names;
  for (const FakeCall& c : calls_) {
    if (std::find(only.begin(), only.end(), c.name) != only.end())
      names.push_back(c.name);
  }
  return names;
}

void FakeComm::ClearCalls() {
  std::lock_guard guard(lock_);
  calls_.clear();
}

// --- Failures ----------------------------------------------------------------

void FakeComm::FailNext(std::string_view name, std::uint32_t error) {
  std::lock_guard guard(lock_);
  failures_.push_back({std::string(name), error, false});
}

void FakeComm::FailAlways(std::string_view name, std::uint32_t error) {
  std::lock_guard guard(lock_);
  failures_.push_back({std::string(name), error, true});
}

void FakeComm::ClearFailures() {
  std::lock_guard guard(lock_);
  failures_.clear();
}

// --- The devices -------------------------------------------------------------

namespace {

template <class D>
D& Require(D* device) {
  if (device == nullptr) throw std::logic_error("FakeComm: no such device");
  return *device;
}

}  // namespace

void FakeComm::SetDeviceExists(std::u16string_view path, bool exists) {
  std::lock_guard guard(lock_);
  exists_[std::u16string(path)] = exists;
}

Handle FakeComm::LastHandle() const {
  std::lock_guard guard(lock_);
  return last_;
}

bool FakeComm::IsOpen(Handle h) const {
  std::lock_guard guard(lock_);
  const Device* d = Find(Resolve(h));
  return d != nullptr && d->open;
}

Dcb FakeComm::State(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).dcb;
}

CommTimeouts FakeComm::Timeouts(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).timeouts;
}

std::uint32_t FakeComm::EventMask(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).eventMask;
}

void FakeComm::Receive(std::string_view bytes, Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  d.input.insert(d.input.end(), bytes.begin(), bytes.end());
  ServeReads(d);
  if ((d.eventMask & kEvRxChar) != 0 && !bytes.empty()) {
    d.latched |= kEvRxChar;
    ServeWait(d);
  }
}

std::size_t FakeComm::InputQueued(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).input.size();
}

void FakeComm::CompleteReads(Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  for (Op& op : d.reads)
    Complete(op.ov, kErrorSuccess, d.Take(op.readBuffer, op.count));
  d.reads.clear();
}

void FakeComm::ExpireTimeouts(Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  const CommTimeouts& t = d.timeouts;
  if (!d.reads.empty() && !d.ReadsReturnAtOnce() &&
      (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)) {
    for (Op& op : d.reads)
      Complete(op.ov, kErrorSuccess, d.Take(op.readBuffer, op.count));
    d.reads.clear();
  }
  // A stalled device has taken nothing of a pending write.
  if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
    for (Op& op : d.writes) Complete(op.ov, kErrorSuccess, 0);
    d.writes.clear();
  }
}

void FakeComm::SetWriteMode(WriteMode mode, std::uint32_t shortCount,
                            Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  d.writeMode = mode;
  d.shortCount = shortCount;
}

void FakeComm::CompleteWrites(Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  for (Op& op : d.writes) {
    d.written.insert(d.written.end(), op.bytes.begin(), op.bytes.end());
    Complete(op.ov, kErrorSuccess, op.count);
  }
  d.writes.clear();
}

std::size_t FakeComm::PendingWrites(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).writes.size();
}

std::vector<std::uint8_t> FakeComm::Written(Handle h) const {
  std::lock_guard guard(lock_);
  return Require(Find(Resolve(h))).written;
}

std::string FakeComm::WrittenText(Handle h) const {
  const std::vector<std::uint8_t> bytes = Written(h);
  return std::string(bytes.begin(), bytes.end());
}

void FakeComm::SetModemStatus(std::uint32_t bits, Handle h) {
  std::lock_guard guard(lock_);
  if (h == 0) initialModem_ = bits;
  if (Device* d = Find(Resolve(h)); d != nullptr && (h != 0 || d->open))
    d->modem = bits;
}

void FakeComm::SetLineErrors(std::uint32_t bits, Handle h) {
  std::lock_guard guard(lock_);
  if (h == 0) initialErrors_ = bits;
  if (Device* d = Find(Resolve(h)); d != nullptr && (h != 0 || d->open))
    d->errors = bits;
}

void FakeComm::SetComStat(std::uint32_t flags, std::uint32_t outQueue,
                          Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  d.statFlags = flags;
  d.outQueue = outQueue;
}

void FakeComm::RaiseEvents(std::uint32_t bits, Handle h) {
  std::lock_guard guard(lock_);
  Device& d = Require(Find(Resolve(h)));
  d.latched |= bits & d.eventMask;
  ServeWait(d);
}

bool FakeComm::WaitPending(Handle h) const {
  std::lock_guard guard(lock_);
  const Device* d = Find(Resolve(h));
  return d != nullptr && d->wait.has_value();
}

}  // namespace cport::comm
