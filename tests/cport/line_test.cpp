// Status queries, line controls, purges, the event mask and WaitForEvent.
#include <functional>
#include <thread>

#include "cport/event_mask.h"
#include "error_texts.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;

TEST(EventMask, TranslatesBothWays) {
  EXPECT_EQ(EventsToMask(kAllComEvents), 0x05FFu);
  EXPECT_EQ(MaskToEvents(0x05FF), kAllComEvents);
  EXPECT_EQ(MaskToEvents(cport::comm::kEvPErr), TComEvents{});
  EXPECT_EQ(EventsToMask({evTxEmpty, evRLSD}), 0x0024u);
  EXPECT_EQ(MaskToEvents(0xFFFFFFFF), kAllComEvents);
  for (int i = 0; i < 10; ++i) {
    const TComEvents one{static_cast<TComEvent>(i)};
    EXPECT_EQ(MaskToEvents(EventsToMask(one)), one) << i;
  }
}

TEST_F(PortTest, LineControlsSendTheirEscapeCodes) {
  OpenPort();
  port.SetDTR(true);
  port.SetDTR(false);
  port.SetRTS(true);
  port.SetRTS(false);
  port.SetBreak(true);
  port.SetBreak(false);
  port.SetXonXoff(true);
  port.SetXonXoff(false);
  std::vector<std::uint64_t> codes;
  for (const auto& c : fake.Calls("EscapeCommFunction"))
    codes.push_back(c.args[0]);
  EXPECT_THAT(codes, ElementsAre(5u, 6u, 3u, 4u, 8u, 9u, 2u, 1u));
}

TEST_F(PortTest, ClearBufferPurgesAlsoWithNoFlags) {
  OpenPort();
  port.ClearBuffer(true, true);
  port.ClearBuffer(true, false);
  port.ClearBuffer(false, true);
  port.ClearBuffer(false, false);
  std::vector<std::uint64_t> flags;
  for (const auto& c : fake.Calls("PurgeComm")) flags.push_back(c.args[0]);
  EXPECT_THAT(flags, ElementsAre(0xCu, 0x8u, 0x4u, 0x0u));
}

TEST_F(PortTest, ClearBufferDiscardsReceivedBytes) {
  OpenPort();
  fake.Receive("abc");
  port.ClearBuffer(true, false);
  EXPECT_EQ(port.InputCount(), 0);
}

TEST_F(PortTest, TransmitCharSendsTheLowByte) {
  OpenPort();
  port.TransmitChar(u'\u0113');
  EXPECT_THAT(fake.Written(), ElementsAre(0x13));
}

TEST_F(PortTest, StatusQueriesReadTheDriver) {
  OpenPort();
  fake.Receive("12345");
  fake.SetComStat(
      cport::comm::kComStatCtsHold | cport::comm::kComStatTxim | 0x100, 7);
  fake.SetModemStatus(cport::comm::kMsCtsOn | cport::comm::kMsRingOn |
                      cport::comm::kMsRlsdOn);
  EXPECT_EQ(port.InputCount(), 5);
  EXPECT_EQ(port.OutputCount(), 7);
  EXPECT_EQ(port.StateFlags(), (TComStateFlags{fCtlHold, fTxim}));
  EXPECT_EQ(port.Signals(), (TComSignals{csCTS, csRing, csRLSD}));
}

TEST_F(PortTest, LastErrorsReportsParityOnlyWhileChecking) {
  OpenPort();
  fake.SetLineErrors(cport::comm::kCeRxParity);
  EXPECT_EQ(port.LastErrors(), TComErrors{});
  fake.SetLineErrors(cport::comm::kCeFrame);
  EXPECT_EQ(port.LastErrors(), TComErrors{ceFrame});
  EXPECT_EQ(port.LastErrors(), TComErrors{});  // reading cleared them

  port.Parity().SetCheck(true);
  fake.SetLineErrors(0xFFFF);
  EXPECT_EQ(port.LastErrors(),
            (TComErrors{ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode,
                        ceRxOver, ceTxFull}));
}

// Every direct call reports its own code with the platform's number; on a
// closed port that number is the invalid-handle one.
TEST_F(PortTest, DirectCallsReportTheirFailures) {
  struct Case {
    const char* call;
    int code;
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {"ClearCommError", 10, [&] { port.InputCount(); }},
      {"ClearCommError", 10, [&] { port.OutputCount(); }},
      {"ClearCommError", 10, [&] { port.StateFlags(); }},
      {"ClearCommError", 10, [&] { port.LastErrors(); }},
      {"GetCommModemStatus", 11, [&] { port.Signals(); }},
      {"EscapeCommFunction", 12, [&] { port.SetDTR(true); }},
      {"EscapeCommFunction", 12, [&] { port.SetXonXoff(false); }},
      {"TransmitCommChar", 13, [&] { port.TransmitChar(u'a'); }},
      {"PurgeComm", 5, [&] { port.ClearBuffer(true, true); }},
      {"PurgeComm", 5, [&] { port.AbortAllAsync(); }},
  };
  for (const Case& c : cases) {
    EComPort e = Raised(c.run);
    EXPECT_EQ(e.Code(), c.code) << c.call << " closed";
    EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorInvalidHandle));
  }
  OpenPort();
  for (const Case& c : cases) {
    fake.FailNext(c.call, cport::comm::kErrorGenFailure);
    EComPort e = Raised(c.run);
    EXPECT_EQ(e.Code(), c.code) << c.call;
    EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorGenFailure));
    EXPECT_EQ(Text(e),
              std::string(kErrorTexts[static_cast<std::size_t>(c.code)]) +
                  " (Error: " + std::to_string(cport::comm::kErrorGenFailure) +
                  ")");
  }
}

TEST_F(PortTest, WaitForEventReturnsTheEventsThatOccurred) {
  OpenPort();
  std::thread device([&] {
    ASSERT_TRUE(WaitUntil([&] { return fake.WaitPending(); }));
    fake.RaiseEvents(cport::comm::kEvRing | cport::comm::kEvCts);
  });
  TComEvents events{evRing, evBreak};
  port.WaitForEvent(events, 0, 10000);
  device.join();
  EXPECT_EQ(events, TComEvents{evRing});
  std::vector<std::uint64_t> masks;
  for (const auto& c : fake.Calls("SetCommMask")) masks.push_back(c.args[0]);
  EXPECT_THAT(masks, ElementsAre(0x0140u, 0u));
  EXPECT_EQ(fake.EventMask(), 0u);
}

TEST_F(PortTest, WaitForEventEndsEmptyOnTimeoutAndOnStop) {
  OpenPort();
  TComEvents events{evRxChar};
  port.WaitForEvent(events, 0, 20);
  EXPECT_EQ(events, TComEvents{});
  EXPECT_FALSE(fake.WaitPending());

  const cport::comm::Handle stop = fake.CreateEventW(true, true);
  events = {evRxChar};
  port.WaitForEvent(events, stop, -1);
  EXPECT_EQ(events, TComEvents{});
  fake.CloseHandle(stop);
}

TEST_F(PortTest, WaitForEventReportsAFailedWait) {
  OpenPort();
  fake.FailNext("WaitCommEvent", cport::comm::kErrorGenFailure);
  TComEvents events{evRxChar};
  const EComPort e = Raised([&] { port.WaitForEvent(events, 0, 10); });
  EXPECT_EQ(e.Code(), 21);
  EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorGenFailure));
}

}  // namespace
}  // namespace cport::testing
