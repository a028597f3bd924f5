// The event thread: its start and stop, the handling of reported events in
// their fixed order, received characters on every road, and delivery on the
// UI thread, on the event thread and through the hidden window.
#include "event_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST_F(EventTest, ReceivedCharactersReachOnRxCharOnTheUiThread) {
  std::thread::id handledOn;
  port.SetOnRxChar([&](fw::TObject* sender, std::int32_t count) {
    EXPECT_EQ(sender, &port);
    handledOn = std::this_thread::get_id();
    std::u16string text;
    port.ReadStr(text, count);
    Log(std::string(text.begin(), text.end()));
  });
  port.Open();
  EXPECT_EQ(fake.EventMask(), kAllEventBits);

  fake.Receive("BootUp");
  ASSERT_TRUE(PumpUntil([&] { return LogSize() == 1; }));
  EXPECT_THAT(Logged(), ElementsAre("BootUp"));
  EXPECT_EQ(handledOn, std::this_thread::get_id());

  // The thread re-arms its wait only once the delivery has run.
  fake.Receive("@");
  ASSERT_TRUE(PumpUntil([&] { return LogSize() == 2; }));
  EXPECT_EQ(Logged()[1], "@");

  // Close stops the thread; its exit steps clear the mask and both queues.
  ASSERT_TRUE(PumpUntil([&] { return fake.WaitPending(); }));
  fake.ClearCalls();
  port.Close();
  EXPECT_THAT(
      fake.CallNames({"PurgeComm", "SetCommMask", "CloseHandle"}),
      ElementsAre("PurgeComm", "SetCommMask", "PurgeComm", "CloseHandle"));
  EXPECT_THAT(fake.Calls("SetCommMask")[0].args, ElementsAre(0u));
  EXPECT_THAT(fake.Calls("PurgeComm")[1].args, ElementsAre(0x000Cu));
}

TEST_F(EventTest, OneReportIsHandledInTheFixedOrder) {
  LogAllEvents();
  port.Open();
  ClearLog();
  // One report with every event; the device state is read at handling.
  fake.RaiseEvents(kAllEventBits);
  ASSERT_TRUE(WaitUntil(CallQueued));
  fake.Receive("ab");
  fake.SetLineErrors(comm::kCeFrame);
  fake.SetModemStatus(comm::kMsCtsOn);
  ASSERT_TRUE(PumpUntil([&] { return LogSize() >= 10; }));
  PumpFor(20ms);  // a second report (the bytes' own) finds the queue empty
  EXPECT_THAT(Logged(), ElementsAreArray(kAllEventsLogged));
}

TEST_F(EventTest, AnEmptyQueueGivesNoReceivedCharacterNotification) {
  TComLink link;
  link.SetOnRx(
      [&](fw::TObject*, bool on) { Log("link rx " + std::to_string(on)); });
  port.RegisterLink(&link);
  LogAllEvents();
  port.Open();
  ClearLog();
  fake.RaiseEvents(comm::kEvRxChar | comm::kEvRing);
  ASSERT_TRUE(PumpUntil([&] { return LogSize() >= 1; }));
  EXPECT_THAT(Logged(), ElementsAre("ring"));
  port.UnRegisterLink(&link);
}

TEST_F(EventTest, BytesLeftQueuedAreCountedAgainAtTheNextReport) {
  std::vector<std::int32_t> counts;
  port.SetOnRxChar([&](fw::TObject*, std::int32_t count) {
    counts.push_back(count);  // reads nothing
  });
  port.Open();
  fake.Receive("ab");
  ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1; }));
  fake.Receive("cde");
  ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
  EXPECT_THAT(counts, ElementsAre(2, 5));
}

TEST_F(EventTest, WithoutEventsNoThreadRunsAndTheMaskIsNeverSet) {
  port.SetEvents({});
  port.SetSyncMethod(smWindowSync);
  LogAllEvents();
  port.Open();
  ClearLog();
  fake.Receive("ab");
  fake.RaiseEvents(kAllEventBits);
  PumpFor(50ms);
  EXPECT_TRUE(Logged().empty());
  port.Close();
  EXPECT_TRUE(fake.Calls("SetCommMask").empty());
  EXPECT_TRUE(fake.Calls("WaitCommEvent").empty());
}

TEST_F(EventTest, CloseRunsADeliveryAlreadyQueuedWhileStillConnected) {
  bool connectedInHandler = false;
  port.SetOnRxChar([&](fw::TObject*, std::int32_t) {
    connectedInHandler = port.Connected();
    Log("rxchar");
  });
  port.SetOnBeforeClose([&](fw::TObject*) { Log("before close"); });
  port.SetOnAfterClose([&](fw::TObject*) { Log("after close"); });
  port.Open();
  fake.Receive("xyz");
  ASSERT_TRUE(WaitUntil(CallQueued));
  port.Close();
  EXPECT_THAT(Logged(), ElementsAre("before close", "rxchar", "after close"));
  EXPECT_TRUE(connectedInHandler);
  // The thread's exit purge discarded the bytes nobody read.
  EXPECT_EQ(fake.InputQueued(), 0u);
}

}  // namespace
}  // namespace cport::testing
