#include "platform/contract/comm_contract.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "support/line_8n1.h"

namespace cport::comm::contract {
namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// The longest any case waits for something it expects to happen.
constexpr std::uint32_t kBoundMs = 10000;
// A write no line absorbs at once: the far end never reads.
constexpr std::uint32_t kFloodSize = 1u << 20;

// The port of a case, opened and set to 115200 8N1 with empty queues.
class Port {
 public:
  Port(Bench& bench, const CommTimeouts& timeouts) : api_(bench.Api()) {
    handle_ = api_.CreateFileW(bench.PortName(), kGenericRead | kGenericWrite,
                               0, kOpenExisting, kFileFlagOverlapped);
    EXPECT_NE(handle_, kInvalidHandle)
        << "cannot open the port: " << api_.GetLastError();
    if (handle_ == kInvalidHandle) return;
    EXPECT_TRUE(api_.SetupComm(handle_, 4096, 4096));
    EXPECT_TRUE(api_.SetCommState(handle_, Line8N1()));
    EXPECT_TRUE(api_.SetCommTimeouts(handle_, timeouts));
    EXPECT_TRUE(api_.PurgeComm(handle_, kPurgeTxClear | kPurgeRxClear));
  }
  ~Port() {
    if (handle_ != kInvalidHandle) {
      // What an earlier write left in the line is not the next case's.
      api_.PurgeComm(handle_, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear |
                                  kPurgeRxClear);
      api_.CloseHandle(handle_);
    }
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  bool Ok() const { return handle_ != kInvalidHandle; }
  Handle Get() const { return handle_; }
  // Closes the handle now, once; returns its value, which refers to nothing
  // until the next handle is made.
  Handle Close() {
    const Handle closed = handle_;
    if (closed == kInvalidHandle) return closed;
    EXPECT_TRUE(api_.CloseHandle(handle_));
    handle_ = kInvalidHandle;
    return closed;
  }

 private:
  CommApi& api_;
  Handle handle_ = kInvalidHandle;
};

// What an operation writes into while it runs: its record, the event mask
// of an event wait, the bytes of a read.
struct Block {
  Overlapped ov{};
  std::uint32_t mask = 99;
  std::string data;
};

// An overlapped record with its own manual-reset event, initially set as a
// fresh record of the serial component's is. A record outlives its operation
// even when a case fails half-way: one still pending at the end closes
// `port` to end it, and is kept rather than freed if it never ends.
class Record {
 public:
  explicit Record(CommApi& api, Port* port = nullptr, std::size_t size = 0)
      : block_(std::make_unique<Block>()),
        ov(block_->ov),
        mask(block_->mask),
        data(block_->data),
        api_(api),
        port_(port) {
    ov.hEvent = api_.CreateEventW(true, true);
    data.assign(size, 'f');
  }
  ~Record() {
    if (ov.Internal == kStatusPending) {
      if (port_ != nullptr) port_->Close();
      if (!Signalled(kBoundMs)) {
        ADD_FAILURE() << "an operation outlived its case";
        static_cast<void>(block_.release());  // the driver may still write
        return;
      }
    }
    api_.CloseHandle(ov.hEvent);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  bool Signalled(std::uint32_t ms = 0) {
    return api_.WaitForSingleObject(ov.hEvent, ms) == kWaitObject0;
  }

 private:
  std::unique_ptr<Block> block_;

 public:
  Overlapped& ov;
  std::uint32_t& mask;
  std::string& data;

 private:
  CommApi& api_;
  Port* port_;
};

// The outcome of one call: its result and, on failure, its error.
struct Outcome {
  bool ok;
  std::uint32_t error;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.ok ? "success" : "failure ") << o.error;
}

template <class Call>
Outcome Try(CommApi& api, Call call) {
  api.SetLastError(0);
  const bool ok = call();
  return {ok, ok ? 0 : api.GetLastError()};
}

const Outcome kDone{true, 0};
const Outcome kPending{false, kErrorIoPending};
const Outcome kIncomplete{false, kErrorIoIncomplete};
const Outcome kAborted{false, kErrorOperationAborted};
const Outcome kBadHandle{false, kErrorInvalidHandle};
const Outcome kBadParameter{false, kErrorInvalidParameter};

// The final outcome of an operation, taken through `h` once its event is set.
Outcome Finish(CommApi& api, Handle h, Record& record, std::uint32_t* count) {
  EXPECT_TRUE(record.Signalled(kBoundMs)) << "the operation did not end";
  return Try(api, [&] {
    return api.GetOverlappedResult(h, &record.ov, count, false);
  });
}

// --- Cases -----------------------------------------------------------------

void HandlesThatReferToNothingAreRefused(Bench& bench) {
  CommApi& api = bench.Api();
  // Made before the port closes: Windows may give a closed handle's value to
  // the next object made.
  Record record(api);
  Handle closed = kInvalidHandle;
  {
    Port port(bench, {kMaxDword, 0, 0, 0, 0});
    ASSERT_TRUE(port.Ok());
    closed = port.Close();
  }
  std::uint8_t buffer[4] = {'a', 'b', 'c', 'd'};
  std::uint32_t count = 0, mask = 0, errors = 0, status = 0;
  ComStat stat;
  const struct {
    const char* name;
    std::function<bool(Handle)> call;
  } calls[] = {
      {"SetupComm", [&](Handle h) { return api.SetupComm(h, 64, 64); }},
      {"SetCommState",
       [&](Handle h) { return api.SetCommState(h, Line8N1()); }},
      {"SetCommTimeouts",
       [&](Handle h) {
         return api.SetCommTimeouts(h, {kMaxDword, 0, 0, 0, 0});
       }},
      {"SetCommMask", [&](Handle h) { return api.SetCommMask(h, kEvRxChar); }},
      {"WaitCommEvent",
       [&](Handle h) { return api.WaitCommEvent(h, &mask, &record.ov); }},
      {"ClearCommError",
       [&](Handle h) { return api.ClearCommError(h, &errors, &stat); }},
      {"GetCommModemStatus",
       [&](Handle h) { return api.GetCommModemStatus(h, &status); }},
      {"EscapeCommFunction",
       [&](Handle h) { return api.EscapeCommFunction(h, kSetDtr); }},
      {"TransmitCommChar",
       [&](Handle h) { return api.TransmitCommChar(h, 'x'); }},
      {"PurgeComm", [&](Handle h) { return api.PurgeComm(h, kPurgeRxClear); }},
      {"WriteFile",
       [&](Handle h) {
         return api.WriteFile(h, buffer, 4, &count, &record.ov);
       }},
      {"ReadFile",
       [&](Handle h) {
         return api.ReadFile(h, buffer, 4, &count, &record.ov);
       }},
  };
  for (Handle h : {kInvalidHandle, closed}) {
    for (const auto& c : calls) {
      EXPECT_EQ(Try(api, [&] { return c.call(h); }), kBadHandle)
          << c.name << (h == closed ? " on a closed handle" : "");
    }
  }
  // (Closing the all-ones value is not tried: on Windows it stands for the
  // calling process.)
  EXPECT_EQ(Try(api, [&] { return api.CloseHandle(closed); }), kBadHandle)
      << "CloseHandle twice";
}

void RecordsOutliveTheirHandle(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  Record written(api, &port), fresh(api);
  std::uint32_t count = 0;
  const Outcome issued = Try(api, [&] {
    return api.WriteFile(port.Get(), "abc", 3, &count, &written.ov);
  });
  EXPECT_TRUE(issued == kDone || issued == kPending) << issued;
  EXPECT_EQ(Finish(api, port.Get(), written, &count), kDone);
  EXPECT_EQ(count, 3u);
  const Handle closed = port.Close();

  // The outcome is the record's: the handle is not needed to read it.
  for (Handle h : {closed, kInvalidHandle}) {
    count = 99;
    EXPECT_EQ(Try(api,
                  [&] {
                    return api.GetOverlappedResult(h, &written.ov, &count,
                                                   false);
                  }),
              kDone);
    EXPECT_EQ(count, 3u);
    // A record no operation has used reports an empty success.
    count = 99;
    EXPECT_EQ(Try(api,
                  [&] {
                    return api.GetOverlappedResult(h, &fresh.ov, &count, true);
                  }),
              kDone);
    EXPECT_EQ(count, 0u);
  }
}

void ZeroLengthTransfersEndAtOnce(Bench& bench) {
  CommApi& api = bench.Api();
  // Reads would otherwise wait a second for their first byte.
  Port port(bench, {0, 0, 1000, 0, 1000});
  ASSERT_TRUE(port.Ok());
  std::uint8_t buffer[1] = {0};
  for (const bool write : {true, false}) {
    Record record(api, &port);
    std::uint32_t count = 99;
    const Outcome issued = Try(api, [&] {
      return write ? api.WriteFile(port.Get(), buffer, 0, &count, &record.ov)
                   : api.ReadFile(port.Get(), buffer, 0, &count, &record.ov);
    });
    const char* what = write ? "WriteFile" : "ReadFile";
    EXPECT_EQ(issued, kDone) << what;
    EXPECT_EQ(count, 0u) << what;
    EXPECT_TRUE(record.Signalled()) << what;
    count = 99;
    EXPECT_EQ(Finish(api, port.Get(), record, &count), kDone) << what;
    EXPECT_EQ(count, 0u) << what;
  }
}

// A read that waits for bytes that never come, and a write the far end does
// not take, both pending on `port`.
struct PendingPair {
  PendingPair(Bench& bench, Port& port)
      : read(bench.Api(), &port, 16), write(bench.Api(), &port, kFloodSize) {
    CommApi& api = bench.Api();
    bench.StallOutput(port.Get());
    EXPECT_EQ(Try(api,
                  [&] {
                    return api.ReadFile(port.Get(), read.data.data(), 16,
                                        &readCount, &read.ov);
                  }),
              kPending);
    EXPECT_EQ(Try(api,
                  [&] {
                    return api.WriteFile(port.Get(), write.data.data(),
                                         kFloodSize, &writeCount, &write.ov);
                  }),
              kPending);
  }

  Record read, write;
  std::uint32_t readCount = 99, writeCount = 99;
};

void PendingTransfersAreIncomplete(Bench& bench) {
  CommApi& api = bench.Api();
  // No timeouts: a read waits for all its bytes, a write for the line.
  Port port(bench, {0, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  PendingPair pending(bench, port);
  for (Record* r : {&pending.read, &pending.write}) {
    EXPECT_FALSE(r->Signalled());
    std::uint32_t count = 0;
    EXPECT_EQ(Try(api,
                  [&] {
                    return api.GetOverlappedResult(port.Get(), &r->ov, &count,
                                                   false);
                  }),
              kIncomplete);
  }
  EXPECT_EQ(pending.readCount, 0u);
  EXPECT_EQ(pending.writeCount, 0u);
}

void PurgeAbortsPendingTransfers(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {0, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  PendingPair pending(bench, port);
  EXPECT_TRUE(api.PurgeComm(port.Get(), kPurgeRxAbort));
  std::uint32_t count = 99;
  EXPECT_EQ(Finish(api, port.Get(), pending.read, &count), kAborted);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(pending.write.Signalled()) << "a read abort ended the write";
  EXPECT_TRUE(api.PurgeComm(port.Get(), kPurgeTxAbort));
  EXPECT_EQ(Finish(api, port.Get(), pending.write, &count), kAborted);
  EXPECT_LT(count, kFloodSize);
}

void CloseEndsPendingOperationsAsAborted(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {0, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  PendingPair pending(bench, port);
  Record event(api, &port);
  ASSERT_TRUE(api.SetCommMask(port.Get(), kEvRxChar));
  EXPECT_EQ(Try(api,
                [&] {
                  return api.WaitCommEvent(port.Get(), &event.mask, &event.ov);
                }),
            kPending);

  const Handle closed = port.Close();
  for (Record* r : {&pending.read, &pending.write, &event}) {
    std::uint32_t count = 99;
    EXPECT_EQ(Finish(api, closed, *r, &count), kAborted)
        << (r == &event          ? "WaitCommEvent"
            : r == &pending.read ? "ReadFile"
                                 : "WriteFile");
  }
}

void TotalTimeoutsEndTransfersWithWhatMoved(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {0, 0, 200, 0, 200});
  ASSERT_TRUE(port.Ok());
  PendingPair pending(bench, port);
  bench.LetTimeoutsExpire(port.Get());
  // Not a failure: the count says how far each got.
  std::uint32_t count = 99;
  EXPECT_EQ(Finish(api, port.Get(), pending.read, &count), kDone) << "ReadFile";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Finish(api, port.Get(), pending.write, &count), kDone)
      << "WriteFile";
  EXPECT_LT(count, kFloodSize);
}

void ReadWithoutTimeoutsTakesWhatIsThere(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  Record record(api, &port, 8);
  std::uint32_t count = 99;
  EXPECT_EQ(Try(api,
                [&] {
                  return api.ReadFile(port.Get(), record.data.data(), 8, &count,
                                      &record.ov);
                }),
            kDone);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(record.Signalled());
}

void UnknownEscapeCodeIsRefused(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  for (std::uint32_t code : {0u, 99u}) {
    EXPECT_EQ(
        Try(api, [&] { return api.EscapeCommFunction(port.Get(), code); }),
        kBadParameter)
        << code;
  }
}

void UnknownMaskAndPurgeBitsAreRefused(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  const Handle h = port.Get();
  EXPECT_EQ(Try(api, [&] { return api.SetCommMask(h, 0x8000); }), kBadParameter)
      << "SetCommMask";
  EXPECT_EQ(Try(api, [&] { return api.PurgeComm(h, 0x0010); }), kBadParameter)
      << "PurgeComm";
}

void EventWaitWithoutAMaskIsRefused(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  Record record(api, &port);
  ASSERT_TRUE(api.SetCommMask(port.Get(), 0));
  EXPECT_EQ(Try(api,
                [&] {
                  return api.WaitCommEvent(port.Get(), &record.mask,
                                           &record.ov);
                }),
            kBadParameter);
}

void OneEventWaitAtATime(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  const Handle h = port.Get();
  Record first(api, &port), second(api, &port);
  ASSERT_TRUE(api.SetCommMask(h, kEvRxChar));
  EXPECT_EQ(
      Try(api, [&] { return api.WaitCommEvent(h, &first.mask, &first.ov); }),
      kPending);
  EXPECT_EQ(
      Try(api, [&] { return api.WaitCommEvent(h, &second.mask, &second.ov); }),
      kBadParameter)
      << "a second wait";
}

void NewMaskEndsPendingWait(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  const Handle h = port.Get();
  Record record(api, &port);
  ASSERT_TRUE(api.SetCommMask(h, kEvRxChar));
  EXPECT_EQ(
      Try(api, [&] { return api.WaitCommEvent(h, &record.mask, &record.ov); }),
      kPending);
  // It ends with no events.
  ASSERT_TRUE(api.SetCommMask(h, kEvRxChar | kEvTxEmpty));
  std::uint32_t count = 99;
  EXPECT_EQ(Finish(api, h, record, &count), kDone);
  EXPECT_EQ(record.mask, 0u);
}

void UnknownPortIsNotFound(Bench& bench) {
  CommApi& api = bench.Api();
  EXPECT_EQ(api.CreateFileW(u"\\\\.\\COM999", kGenericRead | kGenericWrite, 0,
                            kOpenExisting, kFileFlagOverlapped),
            kInvalidHandle);
  EXPECT_EQ(api.GetLastError(), kErrorFileNotFound);
}

void SecondOpenIsRefused(Bench& bench) {
  CommApi& api = bench.Api();
  Port port(bench, {kMaxDword, 0, 0, 0, 0});
  ASSERT_TRUE(port.Ok());
  const Handle second =
      api.CreateFileW(bench.PortName(), kGenericRead | kGenericWrite, 0,
                      kOpenExisting, kFileFlagOverlapped);
  EXPECT_EQ(second, kInvalidHandle);
  if (second != kInvalidHandle) {
    api.CloseHandle(second);
  } else {
    EXPECT_EQ(api.GetLastError(), kErrorAccessDenied);
  }
}

}  // namespace

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"HandlesThatReferToNothingAreRefused",
       HandlesThatReferToNothingAreRefused},
      {"RecordsOutliveTheirHandle", RecordsOutliveTheirHandle},
      {"ZeroLengthTransfersEndAtOnce", ZeroLengthTransfersEndAtOnce},
      {"ReadWithoutTimeoutsTakesWhatIsThere",
       ReadWithoutTimeoutsTakesWhatIsThere,
       "Wine leaves such a read pending and then ends it with the timeout "
       "status (1460), where Windows' driver ends it at once with success"},
      {"PendingTransfersAreIncomplete", PendingTransfersAreIncomplete},
      {"PurgeAbortsPendingTransfers", PurgeAbortsPendingTransfers,
       "Wine's PurgeComm clears the queues but does not end pending reads "
       "and writes"},
      {"CloseEndsPendingOperationsAsAborted",
       CloseEndsPendingOperationsAsAborted,
       "Wine ends reads and writes pending at CloseHandle with "
       "ERROR_HANDLES_CLOSED (676), where Windows' driver cancels them (995)"},
      {"TotalTimeoutsEndTransfersWithWhatMoved",
       TotalTimeoutsEndTransfersWithWhatMoved,
       "Wine reports a read ended by its total timeout as failed with "
       "ERROR_TIMEOUT (1460), where Windows counts it a success, and does "
       "not end writes by the write total timeout"},
      {"UnknownEscapeCodeIsRefused", UnknownEscapeCodeIsRefused},
      {"UnknownMaskAndPurgeBitsAreRefused", UnknownMaskAndPurgeBitsAreRefused,
       "Wine passes unknown event-mask and purge bits on without checking "
       "them"},
      {"EventWaitWithoutAMaskIsRefused", EventWaitWithoutAMaskIsRefused,
       "Wine lets WaitCommEvent wait with an empty event mask"},
      {"OneEventWaitAtATime", OneEventWaitAtATime},
      {"NewMaskEndsPendingWait", NewMaskEndsPendingWait,
       "Wine ends a pending event wait at SetCommMask as aborted (995), where "
       "Windows' driver ends it successfully with an empty mask"},
      {"UnknownPortIsNotFound", UnknownPortIsNotFound},
      {"SecondOpenIsRefused", SecondOpenIsRefused,
       "Wine does not refuse a second open of a serial device"},
  };
  return cases;
}

void RunCase(Bench& bench, const Case& c) {
  if (bench.IsWine() && c.wineDiffers != nullptr) {
    GTEST_SKIP() << "Wine differs from Windows here: " << c.wineDiffers;
  }
  c.run(bench);
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

}  // namespace cport::comm::contract
