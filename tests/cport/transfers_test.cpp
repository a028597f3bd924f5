// Overlapped and blocking transfers, text forms and the link signals.
#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

#include "cport/fw/text.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;

// A port whose one link writes its transfer signals into the log.
class TransferTest : public PortTest {
 protected:
  TransferTest() {
    link.SetOnTx([this](cport::fw::TObject*, bool on) {
      log.push_back(on ? "Tx on" : "Tx off");
    });
    link.SetOnRx([this](cport::fw::TObject*, bool on) {
      log.push_back(on ? "Rx on" : "Rx off");
    });
    link.SetOnTxBuf([this](cport::fw::TObject*, const std::uint8_t* buffer,
                           std::int32_t count) {
      log.push_back("TxBuf " +
                    std::string(reinterpret_cast<const char*>(buffer),
                                static_cast<std::size_t>(count)));
    });
    port.RegisterLink(&link);
    OpenPort();
  }
  ~TransferTest() override { port.UnRegisterLink(&link); }

  TComLink link;
};

TEST_F(TransferTest, WriteStrSendsExactlyTheBytesOfTheText) {
  EXPECT_EQ(port.WriteStr(u"BootUp@"), 7);
  EXPECT_THAT(fake.Written(),
              ElementsAre(0x42, 0x6F, 0x6F, 0x74, 0x55, 0x70, 0x40));
  EXPECT_THAT(fake.CallNames({"WriteFile"}), ElementsAre("WriteFile"));
  EXPECT_THAT(log, ElementsAre("Tx on", "TxBuf BootUp@"));
}

TEST_F(TransferTest, EmptyTextIssuesNothing) {
  EXPECT_EQ(port.WriteStr(u""), 0);
  EXPECT_TRUE(fake.Calls("WriteFile").empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(TransferTest, WriteReturnsWhatTheDriverTransferred) {
  const std::vector<std::uint8_t> block(32, 0xA5);
  EXPECT_EQ(port.Write(block.data(), 32), 32);
  fake.SetWriteMode(cport::comm::FakeComm::WriteMode::kShort, 20);
  EXPECT_EQ(port.Write(block.data(), 32), 20);
  EXPECT_EQ(fake.Written().size(), 52u);
}

TEST_F(TransferTest, PendingWriteCompletesLater) {
  fake.SetWriteMode(cport::comm::FakeComm::WriteMode::kPending);
  PAsync async = nullptr;
  AllocAsync(async);
  EXPECT_EQ(port.WriteAsync("abcd", 4, async), 0);
  EXPECT_FALSE(port.IsAsyncCompleted(async));
  fake.CompleteWrites();
  EXPECT_TRUE(port.IsAsyncCompleted(async));
  EXPECT_EQ(port.WaitForAsync(async), 4);
  EXPECT_EQ(fake.WrittenText(), "abcd");
  EXPECT_THAT(log, ElementsAre("Tx on", "TxBuf abcd"));
  ReleaseAsync(async);
  EXPECT_EQ(async, nullptr);
}

TEST_F(TransferTest, AbortedWriteMakesTheWaitReportCode2) {
  fake.SetWriteMode(cport::comm::FakeComm::WriteMode::kPending);
  PAsync async = nullptr;
  AllocAsync(async);
  port.WriteAsync("abcd", 4, async);
  port.AbortAllAsync();
  const EComPort e = Raised([&] { port.WaitForAsync(async); });
  EXPECT_EQ(e.Code(), 2);
  EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorOperationAborted));
  EXPECT_TRUE(fake.Written().empty());
  ReleaseAsync(async);
}

TEST_F(TransferTest, FreshRecordCompletesAtOnceWithNothing) {
  PAsync async = nullptr;
  AllocAsync(async);
  EXPECT_TRUE(port.IsAsyncCompleted(async));
  EXPECT_EQ(port.WaitForAsync(async), 0);
  EXPECT_TRUE(log.empty());
  ReleaseAsync(async);
}

// The blocking calls reuse one record: each must still start as on a new
// one, with nothing of the previous transfer left in it.
TEST_F(TransferTest, EachBlockingTransferStartsFromANewRecord) {
  const std::vector<std::uint8_t> block(32, 'k');
  EXPECT_EQ(port.Write(block.data(), 32), 32);
  log.clear();
  // Nothing is issued: the wait must see no count and no bytes of the
  // write before.
  EXPECT_EQ(port.WriteUnicodeString(u""), 0);
  EXPECT_TRUE(log.empty());

  fake.Receive("rx");
  std::u16string text;
  EXPECT_EQ(port.ReadStr(text, 8), 2);
  EXPECT_EQ(text, u"rx");
  EXPECT_THAT(log, ElementsAre("Rx off"));

  // A write that stays pending holds the call until the device ends it,
  // though the record's event was signalled by the transfers before.
  fake.SetWriteMode(cport::comm::FakeComm::WriteMode::kPending);
  std::atomic<bool> ended{false};
  std::thread device([&] {
    ASSERT_TRUE(WaitUntil([&] { return fake.PendingWrites() == 1; }));
    ended = true;
    fake.CompleteWrites();
  });
  EXPECT_EQ(port.Write("late", 4), 4);
  EXPECT_TRUE(ended);
  device.join();
  EXPECT_EQ(fake.WrittenText(), std::string(32, 'k') + "late");
}

// Blocking writes from two threads at once: each has a record of its own,
// so each gets its own count and its links see its own bytes.
TEST_F(PortTest, ConcurrentBlockingWritesKeepTheirOwnRecords) {
  TComLink link;
  thread_local char mine = 0;
  std::atomic<int> foreign{0};
  link.SetOnTxBuf(
      [&](cport::fw::TObject*, const std::uint8_t* buffer, std::int32_t count) {
        if (count != 8 || std::count(buffer, buffer + count, mine) != count)
          ++foreign;
      });
  port.RegisterLink(&link);
  OpenPort();
  constexpr int kWrites = 2000;
  std::atomic<int> wrongCounts{0};
  auto writer = [&](char letter) {
    mine = letter;
    const std::string bytes(8, letter);
    for (int i = 0; i < kWrites; ++i) {
      if (port.Write(bytes.data(), 8) != 8) ++wrongCounts;
    }
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  EXPECT_EQ(foreign, 0);
  EXPECT_EQ(wrongCounts, 0);
  const std::string written = fake.WrittenText();
  EXPECT_EQ(std::count(written.begin(), written.end(), 'a'), 8 * kWrites);
  EXPECT_EQ(std::count(written.begin(), written.end(), 'b'), 8 * kWrites);
  port.UnRegisterLink(&link);
}

TEST_F(TransferTest, ReadStrTakesWhatIsWaiting) {
  fake.Receive("wxyz");
  std::u16string text = u"old";
  EXPECT_EQ(port.ReadStr(text, 10), 4);
  EXPECT_EQ(text, u"wxyz");
  EXPECT_THAT(log, ElementsAre("Rx off"));

  EXPECT_EQ(port.ReadStr(text, 0), 0);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(fake.Calls("ReadFile").size(), 1u);
}

TEST_F(TransferTest, ReadLeavingBytesQueuedSendsNoRxOff) {
  fake.Receive("abcdef");
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(port.Read(buffer, 4), 4);
  EXPECT_THAT(buffer, ElementsAre('a', 'b', 'c', 'd'));
  EXPECT_TRUE(log.empty());
}

// One character per byte, a zero byte included.
TEST_F(TransferTest, TextReadKeepsEveryByteInTheAnsiCodePage) {
  const std::string bytes("\x00\x7F\x80\xFF", 4);
  fake.Receive(bytes);
  std::u16string text;
  EXPECT_EQ(port.ReadStr(text, 4), 4);
  EXPECT_EQ(text.size(), 4u);
  EXPECT_EQ(text, cport::fw::MultiByteToWide(cport::fw::kCpAcp, bytes));
  EXPECT_EQ(cport::fw::WideToMultiByte(cport::fw::kCpAcp, text), bytes);
}

// A text read keeps no hold on the caller's text: the text of a read that
// completes later is the record's, and nothing is written to the caller's
// text after ReadStrAsync has returned, freed or not. A read that has to
// wait leaves the caller's text empty, never undefined characters.
TEST_F(TransferTest, TextReadTextComesFromTheRecordOnceComplete) {
  struct Case {
    const char* name;
    std::int32_t count;
    const char* before;  // queued before the read
    const char* after;   // received while it is pending
    bool timeout;        // the read timeout ends it
    std::int32_t atOnce;
    const char16_t* callerText;
    std::int32_t waited;
    const char16_t* recordText;
  };
  const std::vector<Case> cases = {
      {"CompletesLater", 5, "ab", "cde", false, 0, u"", 5, u"abcde"},
      {"EndedShortByTheTimeout", 8, "ab", "", true, 0, u"", 2, u"ab"},
      {"CompletesAtOnce", 2, "xy", "", false, 2, u"xy", 2, u"xy"},
  };
  TComTimeouts waiting;
  waiting.SetReadInterval(0);
  waiting.SetReadTotalConstant(1000);
  port.SetTimeouts(waiting);
  for (const Case& c : cases) {
    // The caller's text is changed, or freed, before the wait.
    for (const bool freeText : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (freeText ? " freed" : " kept"));
      fake.Receive(c.before);
      PAsync async = nullptr;
      AllocAsync(async);
      auto text = std::make_unique<std::u16string>(u"stale");
      EXPECT_EQ(port.ReadStrAsync(*text, c.count, async), c.atOnce);
      EXPECT_EQ(*text, c.callerText);
      if (freeText) {
        text.reset();
      } else {
        *text = u"mine";
      }
      fake.Receive(c.after);
      if (c.timeout) fake.CompleteReads();
      EXPECT_EQ(port.WaitForAsync(async), c.waited);
      EXPECT_EQ(async->Text, c.recordText);
      if (text) {
        EXPECT_EQ(*text, u"mine");
      }
      ReleaseAsync(async);
    }
  }
}

// Another operation on the record empties a text read's text.
TEST_F(TransferTest, OtherOperationsEmptyTheRecordsText) {
  fake.Receive("ab");
  PAsync async = nullptr;
  AllocAsync(async);
  std::u16string text;
  EXPECT_EQ(port.ReadStrAsync(text, 2, async), 2);
  EXPECT_EQ(async->Text, u"ab");
  EXPECT_EQ(port.WriteAsync("w", 1, async), 1);
  EXPECT_EQ(port.WaitForAsync(async), 1);
  EXPECT_EQ(async->Text, u"");
  ReleaseAsync(async);
}

TEST_F(TransferTest, UnicodeTextUsesTheCodePage) {
  port.SetCodePage(65001);
  EXPECT_EQ(port.WriteUnicodeString(u"\u00E9t\u00E9"), 5);
  EXPECT_EQ(fake.WrittenText(), "\xC3\xA9t\xC3\xA9");

  fake.Receive("\xC3\xA9t\xC3\xA9");
  std::u16string text;
  EXPECT_EQ(port.ReadUnicodeString(text, 10), 3);
  EXPECT_EQ(text, u"\u00E9t\u00E9");
}

// A code page this system cannot convert is reported when a transfer first
// uses it, before anything is sent or read: the received bytes stay queued
// for a read in a code page that works. With an OnException handler the
// call returns 0 after the report, still without a transfer.
TEST_F(TransferTest, AnUnknownCodePageIsReportedBeforeAnyTransfer) {
  struct Case {
    const char* name;
    int code;
    std::function<std::int32_t()> call;
  };
  std::u16string text = u"old";
  const std::vector<Case> cases = {
      {"WriteUnicodeString", 2,
       [&] { return port.WriteUnicodeString(u"abc"); }},
      {"ReadUnicodeString", 3,
       [&] { return port.ReadUnicodeString(text, 10); }},
  };
  port.SetCodePage(12345);
  fake.Receive("keep");
  std::vector<TComExceptions> handled;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EComPort e = Raised(c.call);
    EXPECT_EQ(e.Code(), c.code);
    EXPECT_EQ(e.WinCode(),
              static_cast<int>(cport::comm::kErrorInvalidParameter));
    port.SetOnException(
        [&](cport::fw::TObject*, TComExceptions kind, const std::u16string&,
            std::int64_t, const std::u16string&) { handled.push_back(kind); });
    EXPECT_EQ(c.call(), 0);
    port.SetOnException(nullptr);
  }
  EXPECT_THAT(handled, ElementsAre(CE_WriteFailed, CE_ReadFailed));
  EXPECT_TRUE(fake.Calls("WriteFile").empty());
  EXPECT_TRUE(fake.Calls("ReadFile").empty());
  EXPECT_EQ(text, u"");
  EXPECT_TRUE(log.empty());

  port.SetCodePage(65001);
  EXPECT_EQ(port.ReadUnicodeString(text, 10), 4);
  EXPECT_EQ(text, u"keep");
}

#ifdef _WIN32
// The OEM, Mac and thread code pages and the symbol page, which the system
// does not list as valid: its conversion takes them, and so does the port.
// The symbol page holds its characters at U+F020 to U+F0FF.
TEST_F(TransferTest, TheCodePagesTheSystemConvertsAreAccepted) {
  const std::vector<std::pair<std::uint32_t, std::u16string>> cases = {
      {1, u"a"}, {2, u"a"}, {3, u"a"}, {42, u"\uF061"}};
  for (const auto& [page, text] : cases) {
    SCOPED_TRACE(page);
    port.SetCodePage(page);
    EXPECT_EQ(port.WriteUnicodeString(text), 1);
  }
  EXPECT_EQ(fake.WrittenText(), "aaaa");
}
#endif

TEST_F(PortTest, TransfersOnAClosedPortReportPortNotOpen) {
  std::uint8_t byte = 0;
  const std::vector<std::function<void()>> transfers = {
      [&] { port.Write(&byte, 1); }, [&] { port.WriteStr(u"x"); },
      [&] { port.Read(&byte, 1); },
      [&] {
        std::u16string text;
        port.ReadStr(text, 1);
      }};
  for (const auto& transfer : transfers) {
    const EComPort e = Raised(transfer);
    EXPECT_EQ(e.Code(), 24);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_EQ(Text(e), "Port Not Open");
  }
  EXPECT_TRUE(fake.Calls("WriteFile").empty());
  EXPECT_TRUE(fake.Calls("ReadFile").empty());
}

TEST_F(PortTest, NullRecordReportsInvalidAsync) {
  OpenPort();
  PAsync none = nullptr;
  std::u16string text;
  const std::vector<std::function<void()>> calls = {
      [&] { port.WriteAsync("a", 1, none); },
      [&] { port.ReadAsync(nullptr, 1, none); },
      [&] { port.ReadStrAsync(text, 1, none); },
      [&] { port.WaitForAsync(none); }, [&] { port.IsAsyncCompleted(none); }};
  for (const auto& call : calls) {
    const EComPort e = Raised(call);
    EXPECT_EQ(e.Code(), 4);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_EQ(Text(e), "Invalid Async parameter");
  }
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(PortTest, TransferIssueFailuresReportTheirCodes) {
  OpenPort();
  std::uint8_t byte = 0;
  fake.FailNext("WriteFile", cport::comm::kErrorGenFailure);
  EXPECT_EQ(Raised([&] { port.Write(&byte, 1); }).Code(), 2);
  fake.FailNext("ReadFile", cport::comm::kErrorGenFailure);
  EXPECT_EQ(Raised([&] { port.Read(&byte, 1); }).Code(), 3);
  EXPECT_EQ(Raised([&] { port.Write(&byte, -1); }).Code(), 2);

  PAsync async = nullptr;
  AllocAsync(async);
  fake.FailNext("GetOverlappedResult", cport::comm::kErrorGenFailure);
  const EComPort e = Raised([&] { port.IsAsyncCompleted(async); });
  EXPECT_EQ(e.Code(), 6);
  EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorGenFailure));
  ReleaseAsync(async);
}

// A link handler that throws after a write was issued: the blocking call
// waits for the write before releasing its record.
TEST_F(PortTest, ThrowingLinkDoesNotReleaseARunningWrite) {
  TComLink link;
  link.SetOnTx(
      [](cport::fw::TObject*, bool) { throw std::runtime_error("link"); });
  port.RegisterLink(&link);
  OpenPort();
  fake.SetWriteMode(cport::comm::FakeComm::WriteMode::kPending);
  std::thread device([&] {
    ASSERT_TRUE(WaitUntil([&] { return fake.PendingWrites() == 1; }));
    fake.CompleteWrites();
  });
  EXPECT_THROW(port.WriteStr(u"x"), std::runtime_error);
  device.join();
  EXPECT_EQ(fake.WrittenText(), "x");
  port.UnRegisterLink(&link);
}

// A link's handler may destroy the port inside a blocking write, when the
// write is issued or when it has completed: the call then returns without
// touching the port again (a use after free that the sanitizer builds
// report).
TEST_F(PortTest, ALinkMayDestroyThePortInsideABlockingWrite) {
  struct Case {
    const char* name;
    bool onIssue;  // in OnTx, else in OnTxBuf
    std::function<std::int32_t(TComPort&)> write;
    std::int32_t result;
  };
  const std::vector<Case> cases = {
      {"Write on issue", true, [](TComPort& p) { return p.Write("ab", 2); }, 0},
      {"WriteStr on issue", true, [](TComPort& p) { return p.WriteStr(u"ab"); },
       0},
      {"Write when completed", false,
       [](TComPort& p) { return p.Write("ab", 2); }, 2},
      {"WriteUnicodeString when completed", false,
       [](TComPort& p) { return p.WriteUnicodeString(u"ab"); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto owned = std::make_unique<TComPort>(nullptr);
    owned->SetEvents({});
    owned->Open();
    TComLink link;
    if (c.onIssue) {
      link.SetOnTx([&](cport::fw::TObject*, bool) { owned.reset(); });
    } else {
      link.SetOnTxBuf([&](cport::fw::TObject*, const std::uint8_t*,
                          std::int32_t) { owned.reset(); });
    }
    owned->RegisterLink(&link);
    TComPort& victim = *owned;
    EXPECT_EQ(c.write(victim), c.result);
    EXPECT_EQ(owned, nullptr);
    EXPECT_EQ(fake.WrittenText(), "ab");
    fake.ClearCalls();
  }
}

// A handler that destroys the port and then throws: the error reaches the
// caller, and the call does not touch the freed port on its way out.
TEST_F(PortTest, ALinkMayDestroyThePortAndThrowInsideABlockingWrite) {
  auto owned = std::make_unique<TComPort>(nullptr);
  owned->SetEvents({});
  owned->Open();
  TComLink link;
  link.SetOnTx([&](cport::fw::TObject*, bool) {
    owned.reset();
    throw std::runtime_error("handler failed");
  });
  owned->RegisterLink(&link);
  TComPort& victim = *owned;
  EXPECT_THROW(victim.Write("ab", 2), std::runtime_error);
  EXPECT_EQ(owned, nullptr);
  EXPECT_EQ(fake.WrittenText(), "ab");
}

}  // namespace
}  // namespace cport::testing
