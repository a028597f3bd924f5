// The whole update on the fake port: what reaches the device, in which
// order, with which gaps, and what each failure leaves behind.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "firmware/firmware_image.h"
#include "updater/form4_layout.h"
#include "updater_fixture.h"

namespace dov::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ImageSlice(std::size_t from, std::size_t count) {
  return Bytes(FirmwareImage.begin() + from,
               FirmwareImage.begin() + from + count);
}

std::vector<std::string> Names(const std::vector<Event>& events) {
  std::vector<std::string> names;
  for (const Event& e : events)
    if (e.what != "write") names.push_back(e.what);
  return names;
}

TEST_F(UpdaterTest, CompleteUpdateSendsCommandAndImageWithTheirPauses) {
  form4->FormShow(form4.get());
  Press();

  EXPECT_TRUE(shown.empty());
  const std::vector<Event> events = timeline.Events();
  EXPECT_EQ(Names(events),
            (std::vector<std::string>{
                "tool disable *vid_1fc9*", "tool enable *vid_1fc9*",
                "open \\\\.\\COM3", "bar shown", "bar hidden"}));

  // Gaps before each step, as each pause must exceed its minimum.
  const auto at = [&](const std::string& what) {
    return timeline.Named(what).front().time;
  };
  EXPECT_GT(at("tool disable *vid_1fc9*"), 500u);
  EXPECT_GT(at("tool enable *vid_1fc9*") - at("tool disable *vid_1fc9*"), 500u);
  EXPECT_GT(at("open \\\\.\\COM3") - at("tool enable *vid_1fc9*"), 1000u);

  const std::vector<Event> writes = Writes();
  ASSERT_EQ(writes.size(), 1u + 640u);
  EXPECT_EQ(writes[0].bytes, Bytes({'B', 'o', 'o', 't', 'U', 'p', '@'}));
  EXPECT_GT(writes[1].time - writes[0].time, 2000u + 10u);
  for (std::size_t i = 2; i < writes.size(); ++i) {
    const bool firstOfBlock = (i - 1) % 4 == 0;
    EXPECT_GT(writes[i].time - writes[i - 1].time, firstOfBlock ? 110u : 10u)
        << "write " << i;
  }
  EXPECT_GT(at("bar hidden") - writes.back().time, 50u);

  // The image, 32 bytes at a time, in order; block 2 starts at byte 129.
  Bytes sent;
  for (std::size_t i = 1; i < writes.size(); ++i) {
    ASSERT_EQ(writes[i].bytes.size(), 32u);
    sent.insert(sent.end(), writes[i].bytes.begin(), writes[i].bytes.end());
  }
  EXPECT_EQ(sent, ImageSlice(0, kFirmwareImageSize));
  EXPECT_EQ(writes[5].bytes, ImageSlice(128, 32));

  // The bar ran to the end, painted at every step, before it was hidden.
  EXPECT_EQ(bar.min, 0);
  EXPECT_EQ(bar.max, 20480);
  EXPECT_EQ(bar.step, 1);
  EXPECT_EQ(bar.positionWhenHidden, 20480);
  EXPECT_EQ(bar.repaints, 20480);
  EXPECT_TRUE(bar.painted);
  EXPECT_FALSE(bar.visible);
  EXPECT_EQ(form4->Update().BlockLen, 1);

  // The port stays open on the device's line settings.
  EXPECT_TRUE(form4->ComPort1->Connected());
  EXPECT_TRUE(comm.IsOpen(comm.LastHandle()));
  const cport::comm::Dcb dcb = comm.State();
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, cport::comm::kNoParity);
  EXPECT_EQ(dcb.StopBits, cport::comm::kOneStopBit);
  EXPECT_EQ(dcb.Flags, cport::comm::kDcbBinary);
}

TEST_F(UpdaterTest, NextUpdateClosesThePortFirstAndTakesThePortChosenBefore) {
  form4->FormShow(form4.get());
  Press();
  const std::uint32_t start = ticks.now;
  const std::size_t before = timeline.Events().size();
  // Early in the update the user picks COM12; after the port is named (some
  // 2,000 ms in), 5.
  idle.at = [&](std::uint32_t now) {
    if (now == start + 100) Select(12);
    if (now == start + 2500) Select(5);
  };
  Press();

  const std::vector<Event> events = timeline.Events();
  EXPECT_EQ(Names({events.begin() + before, events.end()}),
            (std::vector<std::string>{
                "close", "tool disable *vid_1fc9*", "tool enable *vid_1fc9*",
                "open \\\\.\\COM12", "bar shown", "bar hidden"}));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(form4->PortNumber(), 5);
  EXPECT_EQ(label.text, u"COM 5");
  EXPECT_EQ(Writes().size(), 2u * 641u);
}

struct FailureCase {
  const char* name;
  std::function<void(UpdaterTest&, TimedComm&)> arrange;
  std::u16string message;
  int tools;                      // tool starts of the failing update
  std::optional<bool> connected;  // the port after the failure
  bool barVisible;                // the bar as the failure left it
  int barPosition;
  std::size_t writes;  // writes of the failing update
};

class UpdateFailureTest : public UpdaterTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailureTest, StopsAtTheFailingStepAndTheNextPressWorks) {
  const FailureCase& c = GetParam();
  form4->FormShow(form4.get());
  c.arrange(*this, comm);
  const std::size_t writesBefore = Writes().size();
  const std::uint32_t start = ticks.now;
  Press();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, c.message);
  EXPECT_EQ(shown[0].second, u"ROZ ERUVORU");
  EXPECT_EQ(Writes().size() - writesBefore, c.writes);
  const auto events = timeline.Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [&](const Event& e) {
                            return e.time >= start &&
                                   e.what.starts_with("tool");
                          }),
            c.tools);
  if (c.connected) {
    EXPECT_EQ(form4->ComPort1->Connected(), *c.connected);
  }
  EXPECT_EQ(bar.visible, c.barVisible);
  if (c.barVisible) {
    EXPECT_EQ(bar.position, c.barPosition);
  }
  EXPECT_FALSE(form4->Update().Running());

  // The failure is over (a reopened device takes whole writes again): the
  // next press runs a whole update.
  comm.ClearFailures();
  comm.SetDeviceExists(u"\\\\.\\COM3", true);
  comm.ShortWrite(0, 0);
  const std::size_t writesAfter = Writes().size();
  Press();
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(Writes().size() - writesAfter, 641u);
  EXPECT_EQ(bar.positionWhenHidden, 20480);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UpdateFailureTest,
    ::testing::Values(
        FailureCase{"CloseOfTheEarlierPort",
                    [](UpdaterTest& fixture, TimedComm& c) {
                      fixture.Press();
                      c.FailNext("PurgeComm", 22);
                    },
                    u"PurgeComm function failed (Error: 22)", 0, std::nullopt,
                    false, 0, 0},
        FailureCase{"Open",
                    [](UpdaterTest&, TimedComm& c) {
                      c.SetDeviceExists(u"\\\\.\\COM3", false);
                    },
                    u"Unable to open com port (Error: 2)", 2, false, false, 0,
                    0},
        FailureCase{
            "Command", [](UpdaterTest&, TimedComm& c) { c.FailWrite(1, 5); },
            u"WriteFile function failed (Error: 5)", 2, true, true, 0, 1},
        FailureCase{
            "BlockWrite", [](UpdaterTest&, TimedComm& c) { c.FailWrite(6, 5); },
            u"WriteFile function failed (Error: 5)", 2, true, true, 256, 6},
        FailureCase{"ShortCommand",
                    [](UpdaterTest&, TimedComm& c) { c.ShortWrite(1, 3); },
                    u"Write to the device cut short: 3 of 7 bytes sent.", 2,
                    true, true, 0, 1},
        FailureCase{"ShortBlockWrite",
                    [](UpdaterTest&, TimedComm& c) { c.ShortWrite(7, 12); },
                    u"Write to the device cut short: 12 of 32 bytes sent.", 2,
                    true, true, 256, 7}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(UpdaterTest, BlockWriteFailureKeepsTheFullBlock) {
  comm.FailWrite(6, 5);
  Press();
  EXPECT_EQ(form4->Update().BlockLen, 129);
  EXPECT_EQ(form4->Update().BlockBuf[0], FirmwareImage[128]);
}

TEST_F(UpdaterTest, PressAndCloseDuringAnUpdateAreIgnoredAndDeferred) {
  EXPECT_TRUE(form4->CloseQuery());  // idle: closes at once
  bool closeAllowed = true;
  idle.at = [&](std::uint32_t now) {
    if (now == 3000) {
      Press();
      closeAllowed = form4->CloseQuery();
    }
  };
  Press();

  EXPECT_FALSE(closeAllowed);
  EXPECT_EQ(Writes().size(), 641u);
  EXPECT_EQ(Names(timeline.Events()).back(), "form closed");
  EXPECT_EQ(form.closes, 1);
  EXPECT_TRUE(form4->CloseQuery());
}

TEST_F(UpdaterTest, DeferredCloseFollowsAFailedUpdate) {
  comm.SetDeviceExists(u"\\\\.\\COM3", false);
  idle.at = [&](std::uint32_t now) {
    if (now == 100) form4->CloseQuery();
  };
  Press();
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(form.closes, 1);
}

TEST_F(UpdaterTest, BytesFromTheDeviceAreDrainedDuringAndAfterAnUpdate) {
  idle.at = [&](std::uint32_t now) {
    if (now == 5000) comm.Receive("chatter during the update");
  };
  Press();
  comm.Receive("and after it");
  HandleMessagesUntilDrained();
  EXPECT_EQ(comm.InputQueued(), 0u);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(Writes().size(), 641u);
}

TEST_F(UpdaterTest, DialogStartsClosedOnCom3WithTheBarHidden) {
  EXPECT_EQ(label.text, u"COM 3\r ");
  EXPECT_FALSE(bar.visible);
  EXPECT_EQ(updown.min, 1);
  EXPECT_EQ(updown.max, 30);
  form4->FormShow(form4.get());
  EXPECT_EQ(updown.position, 3);
  EXPECT_EQ(form4->PortNumber(), 3);
  EXPECT_EQ(label.text, u"COM 3\r ");
  EXPECT_FALSE(form4->ComPort1->Connected());
  EXPECT_EQ(comm.LastHandle(), 0u);
  EXPECT_EQ(form4->ComPort1->Port(), u"COM3");
}

TEST_F(UpdaterTest, ArrowsSetThePortNumberAndTheLabel) {
  form4->FormShow(form4.get());
  const std::pair<int, std::u16string> steps[] = {
      {4, u"COM 4"}, {3, u"COM 3"}, {30, u"COM 30"}, {1, u"COM 1"}};
  for (const auto& [position, text] : steps) {
    Select(position);
    EXPECT_EQ(form4->PortNumber(), position);
    EXPECT_EQ(label.text, text);
  }
}

}  // namespace
}  // namespace dov::testing
