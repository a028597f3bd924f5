// The POSIX backend against pseudo-terminal pairs: the far end is driven
// here, every wait has a bound.
#include "cport/comm/posix/posix_comm.h"

#include <sys/wait.h>
#include <time.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "cport/comm/posix/terminal.h"
#include "pty_fixture.h"
#include "terminal_rate.h"

namespace cport::comm::test {
namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr unsigned kPort = 7;

Dcb Line(std::uint32_t baud = 115200, std::uint8_t bits = 8,
         std::uint8_t parity = kNoParity, std::uint8_t stop = kOneStopBit,
         std::uint32_t flags = kDcbBinary) {
  Dcb dcb;
  dcb.BaudRate = baud;
  dcb.Flags = flags;
  dcb.ByteSize = bits;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  return dcb;
}

// CPU time the process spends while this thread sleeps `ms`: far below
// `ms` unless a thread of the backend spins.
long long CpuMsWhileSleeping(int ms) {
  auto cpu = [] {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
  };
  const long long before = cpu();
  ::usleep(static_cast<useconds_t>(ms) * 1000);
  return cpu() - before;
}

// An overlapped record with its own manual-reset event.
class Record {
 public:
  explicit Record(CommApi& api) : api_(api) {
    ov.hEvent = api_.CreateEventW(true, false);
  }
  ~Record() { api_.CloseHandle(ov.hEvent); }
  bool Signalled(std::uint32_t ms) {
    return api_.WaitForSingleObject(ov.hEvent, ms) == kWaitObject0;
  }
  Overlapped ov{};

 private:
  CommApi& api_;
};

class PosixCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    prefix_.Map(kPort, pty_.SlavePath());
    h_ = Open();
    ASSERT_NE(h_, kInvalidHandle) << api_.GetLastError();
    ASSERT_TRUE(api_.SetupComm(h_, 1024, 1024));
    ASSERT_TRUE(api_.SetCommState(h_, Line()));
    ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, 0, 0, 100, 1000}));
  }
  void TearDown() override {
    if (h_ != kInvalidHandle) {
      EXPECT_TRUE(api_.CloseHandle(h_));
    }
  }

  Handle Open(std::uint32_t share = 0) {
    return api_.CreateFileW(ComName(kPort), kGenericRead | kGenericWrite, share,
                            kOpenExisting, kFileFlagOverlapped);
  }
  std::string Stty() {
    std::string command = "stty -a -F " + pty_.SlavePath() + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"),
                                               ::pclose);
    std::string out;
    std::array<char, 256> chunk{};
    while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get())) {
      out += chunk.data();
    }
    return " " + out;
  }
  // Waits (bounded) for one of `mask` and returns what occurred.
  std::uint32_t WaitEvents(int ms = 2000) {
    Record record(api_);
    std::uint32_t mask = 0;
    if (!api_.WaitCommEvent(h_, &mask, &record.ov)) {
      EXPECT_EQ(api_.GetLastError(), kErrorIoPending);
      if (!record.Signalled(static_cast<std::uint32_t>(ms))) {
        api_.SetCommMask(h_, 0);  // ends the wait with mask 0
        record.Signalled(kInfinite);
      }
    }
    return mask;
  }
  // Watches `events` and leaves a wait for them pending on `record`.
  void StartWait(std::uint32_t events, Record& record, std::uint32_t* mask) {
    ASSERT_TRUE(api_.SetCommMask(h_, events));
    ASSERT_FALSE(api_.WaitCommEvent(h_, mask, &record.ov));
    ASSERT_EQ(api_.GetLastError(), kErrorIoPending);
  }
  std::string ReadNow(std::uint32_t count) {
    std::string data(count, '\0');
    std::uint32_t got = 0;
    Record record(api_);
    EXPECT_TRUE(api_.ReadFile(h_, data.data(), count, &got, &record.ov))
        << api_.GetLastError();
    data.resize(got);
    return data;
  }

  PosixComm api_;
  TempPrefix prefix_;
  PtyPair pty_;
  Handle h_ = kInvalidHandle;
};

TEST_F(PosixCommTest, ExclusiveOpenRefusesSecondOpenerUntilClosed) {
  EXPECT_EQ(Open(), kInvalidHandle);
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EBUSY));
  EXPECT_EQ(Open(3), kInvalidHandle);  // a sharing opener is kept out too
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EBUSY));

  // Another process, also when it runs as root, is refused as well.
  std::string command =
      std::string(DOV_OPEN_PROBE) + " " + std::to_string(kPort);
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EBUSY);

  ASSERT_TRUE(api_.CloseHandle(h_));
  h_ = Open();
  EXPECT_NE(h_, kInvalidHandle) << api_.GetLastError();
}

TEST_F(PosixCommTest, ClosedHandleIsInvalid) {
  Handle h = h_;
  ASSERT_TRUE(api_.CloseHandle(h));
  h_ = kInvalidHandle;
  std::uint32_t status = 0;
  EXPECT_FALSE(api_.GetCommModemStatus(h, &status));
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidHandle);
  EXPECT_FALSE(api_.CloseHandle(h));
}

// The device remembers the event of the record it last served: once that
// event's handle is closed, the same record is refused all the same, and a
// new event in its place is taken.
TEST_F(PosixCommTest, ARecordWhoseEventWasClosedIsRefused) {
  Overlapped ov{};
  ov.hEvent = api_.CreateEventW(true, false);
  std::uint32_t n = 0;
  auto write = [&] {
    if (api_.WriteFile(h_, "a", 1, &n, &ov)) return true;
    if (api_.GetLastError() != kErrorIoPending) return false;
    return api_.GetOverlappedResult(h_, &ov, &n, true);
  };
  ASSERT_TRUE(write()) << api_.GetLastError();
  ASSERT_TRUE(api_.CloseHandle(ov.hEvent));
  EXPECT_FALSE(write());
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidHandle);
  char byte = 0;
  EXPECT_FALSE(api_.ReadFile(h_, &byte, 1, &n, &ov));
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidHandle);

  ov.hEvent = api_.CreateEventW(true, false);
  EXPECT_TRUE(write()) << api_.GetLastError();
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(api_.WaitForSingleObject(ov.hEvent, 0), kWaitObject0);
  api_.CloseHandle(ov.hEvent);
}

struct LineCase {
  const char* name;
  Dcb dcb;
  std::vector<std::string> stty;  // tokens `stty -a` shows
};

TEST_F(PosixCommTest, DeviceControlBlockShapesTheLine) {
  Dcb xonXoff =
      Line(9600, 8, kNoParity, kOneStopBit, kDcbBinary | kDcbOutX | kDcbInX);
  xonXoff.XonChar = 0x01;
  xonXoff.XoffChar = 0x02;
  const std::uint32_t hardware = kDcbBinary | kDcbOutxCtsFlow |
                                 (kRtsControlHandshake << kDcbRtsControlShift);
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is told
  // (it has no wire); everything else shows.
  const LineCase cases[] = {
      {"updater",
       Line(),
       {"speed 115200 baud", " cs8 ", "-parenb", "-cstopb", "-crtscts", "-ixon",
        "-ixoff", "-icanon", "-echo ", "-opost", " clocal"}},
      {"7E2",
       Line(19200, 7, kEvenParity, kTwoStopBits, kDcbBinary | kDcbParity),
       {"speed 19200 baud", "-parodd", " cstopb", " inpck"}},
      {"odd", Line(4800, 8, kOddParity), {" parodd", "-cmspar", "-inpck"}},
      {"mark", Line(4800, 8, kMarkParity), {" parodd", " cmspar"}},
      {"space", Line(4800, 8, kSpaceParity), {"-parodd", " cmspar"}},
      {"5N1.5", Line(1200, 5, kNoParity, kOne5StopBits), {" cstopb"}},
      {"rts/cts",
       Line(38400, 8, kNoParity, kOneStopBit, hardware),
       {" crtscts"}},
      {"xon/xoff", xonXoff, {" ixon", " ixoff", "start = ^A;", "stop = ^B;"}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(api_.SetCommState(h_, c.dcb)) << api_.GetLastError();
    const std::string line = Stty();
    for (const std::string& token : c.stty) {
      EXPECT_NE(line.find(token), std::string::npos) << token << " in" << line;
    }
  }
}

// Rates without a speed code of their own reach the driver exactly; stty
// cannot show them, the kernel's arbitrary-rate interface can.
TEST_F(PosixCommTest, AnyRateReachesTheDriver) {
  for (std::uint32_t rate :
       {14400u, 56000u, 128000u, 250000u, 256000u, 115200u}) {
    SCOPED_TRACE(rate);
    ASSERT_TRUE(api_.SetCommState(h_, Line(rate))) << api_.GetLastError();
    EXPECT_EQ(OutputRate(pty_.SlavePath()), rate);
  }
}

TEST_F(PosixCommTest, ImpossibleDeviceControlBlocksAreRefused) {
  auto with = [](std::uint32_t flags) {
    return Line(9600, 8, kNoParity, kOneStopBit, kDcbBinary | flags);
  };
  Dcb sameChars = with(kDcbOutX);
  sameChars.XoffChar = sameChars.XonChar;
  const struct {
    const char* name;
    Dcb dcb;
    std::uint32_t error;
  } cases[] = {
      {"no rate", Line(0), EINVAL},
      {"9 data bits", Line(9600, 9), EINVAL},
      {"parity 5", Line(9600, 8, 5), EINVAL},
      {"1.5 stop bits with 8 data bits",
       Line(9600, 8, kNoParity, kOne5StopBits), EINVAL},
      {"2 stop bits with 5 data bits", Line(9600, 5, kNoParity, kTwoStopBits),
       EINVAL},
      {"same xon and xoff", sameChars, EINVAL},
      {"dsr output flow", with(kDcbOutxDsrFlow), kErrorNotSupported},
      {"dsr sensitivity", with(kDcbDsrSensitivity), kErrorNotSupported},
      {"dtr handshake", with(kDtrControlHandshake << kDcbDtrControlShift),
       kErrorNotSupported},
      {"rts toggle", with(kRtsControlToggle << kDcbRtsControlShift),
       kErrorNotSupported},
      {"cts output flow alone", with(kDcbOutxCtsFlow), kErrorNotSupported},
      {"abort on error", with(kDcbAbortOnError), kErrorNotSupported},
  };
  const std::string before = Stty();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(api_.SetCommState(h_, c.dcb));
    EXPECT_EQ(api_.GetLastError(), c.error);
  }
  EXPECT_EQ(Stty(), before);  // nothing reached the line
}

TEST_F(PosixCommTest, DefaultTimeoutsReadReturnsAtOnceWithWhatIsThere) {
  EXPECT_EQ(ReadNow(10), "");
  ASSERT_TRUE(api_.SetCommMask(h_, kEvRxChar));
  pty_.Send("abcd");
  EXPECT_EQ(WaitEvents(), kEvRxChar);
  ComStat stat;
  std::uint32_t errors = 1;
  ASSERT_TRUE(api_.ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 4u);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(ReadNow(10), "abcd");
}

TEST_F(PosixCommTest, EveryByteValuePassesUnchangedBothWays) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  all += std::string("\xff\x00\x00\xff\xff\x00", 6);  // look like error marks
  std::uint32_t written = 0;
  Record record(api_);
  ASSERT_TRUE(api_.WriteFile(h_, all.data(),
                             static_cast<std::uint32_t>(all.size()), &written,
                             &record.ov));
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(pty_.Receive(all.size()), all);

  ASSERT_TRUE(api_.SetCommTimeouts(h_, {0, 0, 2000, 0, 0}));
  pty_.Send(all);
  std::string got(all.size(), '\0');
  std::uint32_t count = 0;
  ASSERT_TRUE(api_.ReadFile(
      h_, got.data(), static_cast<std::uint32_t>(got.size()), &count, nullptr));
  got.resize(count);
  EXPECT_EQ(got, all);
}

TEST_F(PosixCommTest, PendingReadEndsWhenCountArrivesOrTimeoutsExpire) {
  // No timeouts: waits for the whole count.
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {0, 0, 0, 0, 0}));
  char buffer[5] = {};
  std::uint32_t got = 99;
  Record record(api_);
  ASSERT_FALSE(api_.ReadFile(h_, buffer, 5, &got, &record.ov));
  EXPECT_EQ(api_.GetLastError(), kErrorIoPending);
  EXPECT_EQ(got, 0u);
  pty_.Send("ab");
  EXPECT_FALSE(record.Signalled(100));
  EXPECT_FALSE(api_.GetOverlappedResult(h_, &record.ov, &got, false));
  EXPECT_EQ(api_.GetLastError(), kErrorIoIncomplete);
  pty_.Send("cde");
  ASSERT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &got, true));
  EXPECT_EQ(std::string(buffer, got), "abcde");

  // Total timeout: ends successfully with what came.
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {0, 10, 200, 0, 0}));
  auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(api_.ReadFile(h_, buffer, 5, &got, &record.ov));
  pty_.Send("xy");
  ASSERT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &got, true));
  EXPECT_EQ(std::string(buffer, got), "xy");
  EXPECT_GE(MsSince(start), 240);

  // Interval timeout: ends once the line has been quiet that long.
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {50, 0, 0, 0, 0}));
  ASSERT_FALSE(api_.ReadFile(h_, buffer, 5, &got, &record.ov));
  EXPECT_FALSE(record.Signalled(150));  // the interval starts at a byte
  pty_.Send("q");
  ASSERT_TRUE(record.Signalled(2000));
  ASSERT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &got, false));
  EXPECT_EQ(std::string(buffer, got), "q");

  // Wait for the first byte, then return with it.
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, kMaxDword, 2000, 0, 0}));
  ASSERT_FALSE(api_.ReadFile(h_, buffer, 5, &got, &record.ov));
  pty_.Send("z");
  ASSERT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &got, true));
  EXPECT_EQ(std::string(buffer, got), "z");
}

TEST_F(PosixCommTest, WriteTimesOutWithTheSmallerCountWhenFarEndStopsReading) {
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, 0, 0, 0, 300}));
  std::vector<char> data(1 << 20, 'w');
  std::uint32_t written = 0;
  Record record(api_);
  auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(api_.WriteFile(h_, data.data(),
                              static_cast<std::uint32_t>(data.size()), &written,
                              &record.ov));
  ASSERT_EQ(api_.GetLastError(), kErrorIoPending);
  ASSERT_TRUE(record.Signalled(5000));
  EXPECT_GE(MsSince(start), 250);
  ASSERT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &written, false));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_EQ(pty_.Drain(), written);  // nothing more went out afterwards
}

TEST_F(PosixCommTest, PurgeAbortsPendingWrite) {
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, 0, 0, 0, 0}));
  std::vector<char> data(1 << 20, 'a');
  std::uint32_t written = 0;
  Record record(api_);
  ASSERT_FALSE(api_.WriteFile(h_, data.data(),
                              static_cast<std::uint32_t>(data.size()), &written,
                              &record.ov));
  ASSERT_EQ(api_.GetLastError(), kErrorIoPending);
  EXPECT_FALSE(record.Signalled(50));
  ASSERT_TRUE(api_.PurgeComm(h_, kPurgeTxAbort | kPurgeRxAbort));
  ASSERT_TRUE(record.Signalled(1000));
  EXPECT_FALSE(api_.GetOverlappedResult(h_, &record.ov, &written, true));
  EXPECT_EQ(api_.GetLastError(), kErrorOperationAborted);
  EXPECT_LT(written, data.size());
  // The port goes on working.
  pty_.Drain();
  ASSERT_TRUE(api_.WriteFile(h_, "ok", 2, &written, &record.ov));
  EXPECT_EQ(pty_.Receive(2), "ok");
}

TEST_F(PosixCommTest, PurgeClearDiscardsReceivedInput) {
  ASSERT_TRUE(api_.SetCommMask(h_, kEvRxChar));
  pty_.Send("stale");
  ASSERT_EQ(WaitEvents(), kEvRxChar);
  ASSERT_TRUE(api_.PurgeComm(h_, kPurgeRxClear | kPurgeTxClear));
  EXPECT_EQ(ReadNow(10), "");
  EXPECT_FALSE(api_.PurgeComm(h_, 0x10));
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidParameter);
}

TEST_F(PosixCommTest, EventsReportReceiveTransmitEmptyEventCharAndFill) {
  Dcb dcb = Line();
  dcb.EvtChar = '!';
  ASSERT_TRUE(api_.SetCommState(h_, dcb));
  ASSERT_TRUE(
      api_.SetCommMask(h_, kEvRxChar | kEvTxEmpty | kEvRxFlag | kEvRx80Full));
  pty_.Send("x");
  EXPECT_EQ(WaitEvents(), kEvRxChar);
  pty_.Send("!");
  EXPECT_EQ(WaitEvents(), kEvRxChar | kEvRxFlag);

  std::uint32_t written = 0;
  ASSERT_TRUE(api_.WriteFile(h_, "out", 3, &written, nullptr));
  EXPECT_EQ(WaitEvents(), kEvTxEmpty);
  pty_.Drain();

  // 80 % of the 1024-byte input queue.
  pty_.Send(std::string(900, 'f'));
  std::uint32_t seen = 0;
  for (int i = 0; i < 20 && !(seen & kEvRx80Full); ++i) seen |= WaitEvents(200);
  EXPECT_TRUE(seen & kEvRx80Full);
}

// More input than the queue holds stays in the driver until there is room:
// none of it is dropped, with or without input flow control.
TEST_F(PosixCommTest, InputBeyondTheQueueWaitsInTheDriver) {
  std::string sent;
  for (int i = 0; i < 3000; ++i)
    sent.push_back(static_cast<char>('a' + i % 26));
  for (std::uint32_t flags : {kDcbBinary, kDcbBinary | kDcbInX}) {
    SCOPED_TRACE(flags);
    ASSERT_TRUE(
        api_.SetCommState(h_, Line(115200, 8, kNoParity, kOneStopBit, flags)));
    ASSERT_TRUE(api_.SetCommMask(h_, kEvRx80Full));
    pty_.Send(sent);
    EXPECT_EQ(WaitEvents(), kEvRx80Full);
    ComStat stat;
    ASSERT_TRUE(api_.ClearCommError(h_, nullptr, &stat));
    EXPECT_GE(stat.cbInQue, 1024u);  // the queue and what waits behind it
    ASSERT_TRUE(api_.SetCommTimeouts(h_, {0, 0, 2000, 0, 0}));
    std::string got(sent.size(), '\0');
    std::uint32_t count = 0;
    ASSERT_TRUE(api_.ReadFile(h_, got.data(),
                              static_cast<std::uint32_t>(got.size()), &count,
                              nullptr));
    got.resize(count);
    EXPECT_EQ(got, sent);
    ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, 0, 0, 100, 1000}));
  }
}

TEST_F(PosixCommTest, SetCommMaskEndsPendingWaitWithNoEvents) {
  Record record(api_);
  std::uint32_t mask = 123;
  ASSERT_NO_FATAL_FAILURE(StartWait(kEvRxChar, record, &mask));
  EXPECT_FALSE(api_.WaitCommEvent(h_, &mask, nullptr));  // one wait at a time
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidParameter);
  ASSERT_TRUE(api_.SetCommMask(h_, 0));
  ASSERT_TRUE(record.Signalled(1000));
  std::uint32_t count = 0;
  EXPECT_TRUE(api_.GetOverlappedResult(h_, &record.ov, &count, false));
  EXPECT_EQ(mask, 0u);
  EXPECT_FALSE(api_.WaitCommEvent(h_, &mask, &record.ov));  // mask is 0
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidParameter);
}

// A thread that waits for a pending event wait watches the device's input
// itself meanwhile. Whatever ends its wait (the byte, another object of the
// wait, the device's own thread, another caller) wakes it.
struct WatchedWaitCase {
  const char* name;
  std::function<void(PosixComm&, Handle device, Handle other, PtyPair&)> act;
  std::uint32_t result;  // of WaitForMultipleObjects({other, wait's event})
  std::uint32_t mask;    // the wait's mask, once it has ended
};

TEST_F(PosixCommTest, WaitWatchingInputWakesForEveryEnding) {
  const WatchedWaitCase cases[] = {
      {"byte received",
       [](PosixComm&, Handle, Handle, PtyPair& far) { far.Send("x"); },
       kWaitObject0 + 1, kEvRxChar},
      {"other object set",
       [](PosixComm& api, Handle, Handle other, PtyPair&) {
         api.SetEvent(other);
       },
       kWaitObject0, 0},
      {"mask cleared by another thread",
       [](PosixComm& api, Handle device, Handle, PtyPair&) {
         api.SetCommMask(device, 0);
       },
       kWaitObject0 + 1, 0},
      {"transmit-empty from the device's thread",
       [](PosixComm& api, Handle device, Handle, PtyPair&) {
         std::uint32_t written = 0;
         api.WriteFile(device, "out", 3, &written, nullptr);
       },
       kWaitObject0 + 1, kEvTxEmpty},
  };
  for (const WatchedWaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Handle other = api_.CreateEventW(true, false);
    Record record(api_);
    std::uint32_t mask = 123;
    ASSERT_NO_FATAL_FAILURE(StartWait(kEvRxChar | kEvTxEmpty, record, &mask));
    std::thread actor([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      c.act(api_, h_, other, pty_);
    });
    // Woken by the ending, not by the bound: the object set at the bound
    // would be reported just the same.
    const Handle both[2] = {other, record.ov.hEvent};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(api_.WaitForMultipleObjects(2, both, false, 6000), c.result);
    EXPECT_LT(MsSince(start), 3000);
    actor.join();
    api_.SetCommMask(h_, 0);  // ends a wait still pending
    ASSERT_TRUE(record.Signalled(2000));
    EXPECT_EQ(mask, c.mask);
    pty_.Drain();
    ReadNow(16);
    api_.CloseHandle(other);
  }
}

// A watch that ends without input hands the input back to the device's own
// thread: a byte that comes later, with nobody waiting, still ends the wait.
TEST_F(PosixCommTest, InputComingAfterAWatchEndedIsStillTaken) {
  Record record(api_);
  std::uint32_t mask = 0;
  ASSERT_NO_FATAL_FAILURE(StartWait(kEvRxChar, record, &mask));
  EXPECT_FALSE(record.Signalled(50));  // watched, then given back
  pty_.Send("late");
  std::uint32_t count = 0;
  const auto start = std::chrono::steady_clock::now();
  bool ended = false;
  while (!(ended = api_.GetOverlappedResult(h_, &record.ov, &count, false)) &&
         MsSince(start) < 2000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(mask, kEvRxChar);
  EXPECT_EQ(ReadNow(16), "late");
}

TEST_F(PosixCommTest, DeviceWithoutModemLinesReportsThemOff) {
  std::uint32_t status = 0xFF;
  ASSERT_TRUE(api_.GetCommModemStatus(h_, &status));
  EXPECT_EQ(status, 0u);
  // Setting a line it does not have is refused with the platform's number.
  EXPECT_FALSE(api_.EscapeCommFunction(h_, kSetDtr));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(ENOTTY));
  EXPECT_FALSE(api_.EscapeCommFunction(h_, 77));
  EXPECT_EQ(api_.GetLastError(), kErrorInvalidParameter);
}

TEST_F(PosixCommTest, OutputFlowControlAndTransmitChar) {
  ASSERT_TRUE(api_.EscapeCommFunction(h_, kSetXoff));
  std::uint32_t written = 0;
  Record record(api_);
  api_.WriteFile(h_, "held", 4, &written, &record.ov);
  EXPECT_EQ(pty_.Receive(4, 100), "");
  EXPECT_LT(CpuMsWhileSleeping(300), 150);  // waits, does not spin
  ComStat stat;
  ASSERT_TRUE(api_.ClearCommError(h_, nullptr, &stat));
  EXPECT_TRUE(stat.Flags & kComStatXoffHold);
  ASSERT_TRUE(api_.EscapeCommFunction(h_, kSetXon));
  EXPECT_EQ(pty_.Receive(4), "held");
  ASSERT_TRUE(api_.TransmitCommChar(h_, '*'));
  EXPECT_EQ(pty_.Receive(1), "*");
}

TEST_F(PosixCommTest, FarEndClosedMidWriteFailsPromptly) {
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {kMaxDword, 0, 0, 0, 0}));
  ASSERT_TRUE(api_.SetCommMask(h_, kEvRxChar));
  Record waitRecord(api_);
  std::uint32_t mask = 0;
  ASSERT_FALSE(api_.WaitCommEvent(h_, &mask, &waitRecord.ov));
  std::vector<char> data(1 << 20, 'u');
  std::uint32_t written = 0;
  Record record(api_);
  ASSERT_FALSE(api_.WriteFile(h_, data.data(),
                              static_cast<std::uint32_t>(data.size()), &written,
                              &record.ov));
  auto start = std::chrono::steady_clock::now();
  pty_.CloseFar();
  ASSERT_TRUE(record.Signalled(2000));
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_FALSE(api_.GetOverlappedResult(h_, &record.ov, &written, false));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
  ASSERT_TRUE(waitRecord.Signalled(2000));
  EXPECT_FALSE(api_.GetOverlappedResult(h_, &waitRecord.ov, &written, false));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));

  // Later calls fail at once, the purge too (after aborting what was left).
  EXPECT_FALSE(api_.WriteFile(h_, "x", 1, &written, &record.ov));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
  char c;
  EXPECT_FALSE(api_.ReadFile(h_, &c, 1, &written, &record.ov));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
  EXPECT_FALSE(api_.ClearCommError(h_, nullptr, nullptr));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
  EXPECT_FALSE(api_.PurgeComm(h_, kPurgeTxAbort | kPurgeRxAbort));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
  EXPECT_LT(CpuMsWhileSleeping(300), 150);  // a hung-up line is not polled
}

// Writes aborted while the driver takes their bytes, or while they wait in
// the queue, all end, and each reports exactly what it sent: the far end
// gets the sum of the counts.
TEST_F(PosixCommTest, WritesRacingAbortsEachEndWithWhatTheySent) {
  std::atomic<bool> writing{true};
  std::size_t received = 0;
  std::thread far([&] {
    char buffer[4096];
    for (auto quiet = std::chrono::steady_clock::now();
         writing || std::chrono::steady_clock::now() - quiet <
                        std::chrono::milliseconds(200);) {
      pollfd fd{pty_.Far(), POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      const ssize_t n = ::read(pty_.Far(), buffer, sizeof buffer);
      if (n > 0) received += static_cast<std::size_t>(n);
      quiet = std::chrono::steady_clock::now();
    }
  });
  std::thread aborter([&] {
    while (writing) {
      api_.PurgeComm(h_, kPurgeTxAbort);
      std::this_thread::yield();
    }
  });
  const std::string piece(32, 'w');
  std::size_t reported = 0;
  bool allEnded = true;
  Record record(api_);
  for (int i = 0; i < 2000 && allEnded; ++i) {
    std::uint32_t n = 0;
    if (!api_.WriteFile(h_, piece.data(), 32, &n, &record.ov)) {
      // Pending, or aborted while the driver took its bytes.
      if (api_.GetLastError() == kErrorIoPending) {
        allEnded = record.Signalled(2000);
      } else {
        EXPECT_EQ(api_.GetLastError(), kErrorOperationAborted);
      }
      if (!api_.GetOverlappedResult(h_, &record.ov, &n, false)) {
        EXPECT_EQ(api_.GetLastError(), kErrorOperationAborted);
      }
    }
    EXPECT_LE(n, 32u);
    reported += n;
  }
  writing = false;
  aborter.join();
  far.join();
  EXPECT_TRUE(allEnded);
  EXPECT_EQ(received, reported);
}

TEST_F(PosixCommTest, DataReceivedBeforeHangUpIsStillDelivered) {
  ASSERT_TRUE(api_.SetCommTimeouts(h_, {0, 0, 2000, 0, 0}));
  ASSERT_TRUE(api_.SetCommMask(h_, kEvRxChar));
  pty_.Send("last");
  ASSERT_EQ(WaitEvents(), kEvRxChar);  // taken from the driver
  pty_.CloseFar();
  char buffer[8] = {};
  std::uint32_t got = 0;
  ASSERT_TRUE(api_.ReadFile(h_, buffer, 8, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "last");
  EXPECT_FALSE(api_.ReadFile(h_, buffer, 8, &got, nullptr));
  EXPECT_EQ(api_.GetLastError(), static_cast<std::uint32_t>(EIO));
}

// Only the near end of a pseudo-terminal is taken for one: a serial device
// whose driver still holds output would otherwise report its transmit
// queue empty before the last byte has left.
TEST(PseudoTerminalTest, ToldFromOtherDescriptors) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  const int nearEnd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  int pipeEnds[2] = {-1, -1};
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const int null = ::open("/dev/null", O_RDWR);
  struct Case {
    const char* what;
    int fd;
    bool pseudo;
  };
  for (const Case& c :
       {Case{"near end", nearEnd, true}, Case{"pipe", pipeEnds[0], false},
        Case{"/dev/null", null, false}}) {
    ASSERT_GE(c.fd, 0) << c.what;
    EXPECT_EQ(posix::terminal::IsPseudoTerminal(c.fd), c.pseudo) << c.what;
  }
  for (int fd : {nearEnd, pipeEnds[0], pipeEnds[1], null}) ::close(fd);
}

}  // namespace
}  // namespace cport::comm::test
