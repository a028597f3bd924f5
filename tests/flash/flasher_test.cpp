// One run of dov-flash's update on the fake port and a fake clock: the bytes
// the device gets, and the outcome and exit code of each way it can end.
#include "flasher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "cport/comm/fake/fake_comm.h"
#include "cport/fw/headless_application.h"
#include "interruption.h"
#include "support/fake_clock.h"

namespace dov::flash {
namespace {

constexpr char16_t kCom7[] = u"\\\\.\\COM7";

using dov::testing::FakeIdle;
using dov::testing::FakeTicks;

struct Tool : TToolLauncher {
  void Start(const std::u16string& parameters) override {
    started.push_back(parameters);
  }
  std::vector<std::u16string> started;
};

struct Bar : TProgressBarControl {
  void SetRange(int, int) override {}
  void SetPosition(int p) override { position = p; }
  void SetStep(int s) override { step = s; }
  void StepIt() override { position += step; }
  void Repaint() override {}
  void SetVisible(bool) override {}
  int position = 0, step = 0;
};

// The device: write number n (counted from 1, the boot command first) can
// fail or be cut short.
class Device : public cport::comm::FakeComm {
 public:
  bool WriteFile(cport::comm::Handle h, const void* buffer, std::uint32_t count,
                 std::uint32_t* written, cport::comm::Overlapped* ov) override {
    ++writes_;
    if (writes_ == failAt) FailNext("WriteFile", cport::comm::kErrorGenFailure);
    if (writes_ == shortAt) SetWriteMode(WriteMode::kShort, 5);
    return FakeComm::WriteFile(h, buffer, count, written, ov);
  }
  int failAt = 0;
  int shortAt = 0;

 private:
  int writes_ = 0;
};

class FlasherTest : public ::testing::Test {
 protected:
  TFlashOutcome Run(std::uint32_t waitPortMs = 0) {
    return RunFlash({7, image, waitPortMs}, {ticks, idle, tool, bar});
  }
  std::string Sent() const {
    const std::vector<std::uint8_t> bytes = device.Written();
    return {bytes.begin(), bytes.end()};
  }
  static std::string Expected(std::size_t imageBytes) {
    return "BootUp@" + std::string(image.begin(), image.begin() + imageBytes);
  }
  static std::array<std::uint8_t, kFirmwareImageSize> Pattern() {
    std::array<std::uint8_t, kFirmwareImageSize> bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 128);
    return bytes;
  }

  static inline const std::array<std::uint8_t, kFirmwareImageSize> image =
      Pattern();
  Device device;
  cport::comm::ScopedApi api{device};
  cport::fw::HeadlessApplication app;
  FakeTicks ticks;
  FakeIdle idle{ticks, app};
  Tool tool;
  Bar bar;
};

TEST_F(FlasherTest, SendsTheGivenImageAndReportsSuccess) {
  const TFlashOutcome outcome = Run();
  EXPECT_EQ(outcome.Code, kExitOk);
  EXPECT_EQ(outcome.Error, "");
  EXPECT_EQ(outcome.PortName, "COM7");
  EXPECT_EQ(Sent(), Expected(kFirmwareImageSize));
  EXPECT_EQ(outcome.BytesSent, 7u + kFirmwareImageSize);
  EXPECT_EQ(outcome.BytesTotal, 7u + kFirmwareImageSize);
  EXPECT_EQ(bar.position, static_cast<int>(kFirmwareImageSize));
  EXPECT_EQ(tool.started, (std::vector<std::u16string>{u"disable *vid_1fc9*",
                                                       u"enable *vid_1fc9*"}));
  // The pauses, each one tick past its minimum on the fake clock.
  EXPECT_EQ(outcome.DurationMs, 26450u + 805u);
  // The port is the device's: 115200 8N1, opened on COM7.
  const cport::comm::Dcb dcb = device.State();
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(device.Calls("CreateFileW").at(0).path, kCom7);
  // Closed when the run is over.
  EXPECT_FALSE(device.IsOpen(device.LastHandle()));
}

TEST_F(FlasherTest, AMissingPortIsAnOpenFailure) {
  device.SetDeviceExists(kCom7, false);
  const TFlashOutcome outcome = Run();
  EXPECT_EQ(outcome.Code, kExitOpenFailed);
  EXPECT_EQ(outcome.Error, "Unable to open com port (Error: 2)");
  EXPECT_EQ(outcome.BytesSent, 0u);
  EXPECT_EQ(device.Calls("CreateFileW").size(), 1u);
}

TEST_F(FlasherTest, WaitsForAPortThatComesBackLate) {
  device.SetDeviceExists(kCom7, false);
  // The open is tried at about 2 s; the port is back at 3 s.
  idle.at = [this](std::uint32_t now) {
    if (now == 3000) device.SetDeviceExists(kCom7, true);
  };
  const TFlashOutcome outcome = Run(5000);
  EXPECT_EQ(outcome.Code, kExitOk) << outcome.Error;
  EXPECT_EQ(Sent(), Expected(kFirmwareImageSize));
  const auto opens = device.Calls("CreateFileW");
  EXPECT_GE(opens.size(), 9u);
  EXPECT_LE(opens.size(), 11u);
}

TEST_F(FlasherTest, GivesUpWaitingAtTheDeadline) {
  device.SetDeviceExists(kCom7, false);
  const TFlashOutcome outcome = Run(1000);
  EXPECT_EQ(outcome.Code, kExitOpenFailed);
  EXPECT_EQ(outcome.Error, "Unable to open com port (Error: 2)");
  // The pauses before the open, the wait, and at most one retry more.
  EXPECT_GE(outcome.DurationMs, 2000u + 1000u);
  EXPECT_LE(outcome.DurationMs, 2000u + 1000u + 2 * 110u);
}

TEST_F(FlasherTest, AFailedWriteIsATransferFailure) {
  device.failAt = 10;  // the boot command, then eight chunks, then this one
  const TFlashOutcome outcome = Run();
  EXPECT_EQ(outcome.Code, kExitTransferFailed);
  EXPECT_EQ(outcome.Error, "WriteFile function failed (Error: " +
                               std::to_string(cport::comm::kErrorGenFailure) +
                               ")");
  EXPECT_EQ(outcome.BytesSent, 7u + 8 * 32u);
  EXPECT_EQ(Sent(), Expected(8 * 32));
}

TEST_F(FlasherTest, AShortWriteIsATransferFailureCountingWhatWentOut) {
  device.shortAt = 3;
  const TFlashOutcome outcome = Run();
  EXPECT_EQ(outcome.Code, kExitTransferFailed);
  EXPECT_EQ(outcome.Error, "Write to the device cut short: 5 of 32 bytes sent");
  EXPECT_EQ(outcome.BytesSent, 7u + 32 + 5);
  EXPECT_EQ(Sent(), Expected(32 + 5));
}

TEST_F(FlasherTest, DrainsWhatTheDeviceSends) {
  idle.at = [this](std::uint32_t now) {
    if (now == 5000 || now == 20000) device.Receive("chatter");
  };
  const TFlashOutcome outcome = Run();
  EXPECT_EQ(outcome.Code, kExitOk) << outcome.Error;
  EXPECT_EQ(device.InputQueued(), 0u);
  EXPECT_EQ(Sent(), Expected(kFirmwareImageSize));
}

// A request to stop ends the run at the pause that notices it: nothing more
// is written, the port is closed through the component (queues purged, the
// device released), and the message says what the device was left with.
TEST_F(FlasherTest, AnInterruptionStopsAtAPauseAndClosesThePort) {
  const struct {
    const char* name;
    std::uint32_t at;  // ms on the fake clock
    int signal;
    std::size_t sent;  // at least
    const char* message;
  } cases[] = {
      {"before the open", 1200, SIGTERM, 0,
       "interrupted by SIGTERM before the port was opened: nothing was sent"},
      {"after the boot command", 3000, SIGINT, 7,
       "interrupted by SIGINT: the device holds a partial image and must be "
       "flashed again"},
      {"mid-stream", 6000, 1, 7 + 4 * 32,
       "interrupted by SIGHUP: the device holds a partial image and must be "
       "flashed again"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.ClearCalls();
    ticks.now = 0;
    const auto writtenNow = [&]() -> std::size_t {
      return device.Calls("CreateFileW").empty() ? 0 : device.Written().size();
    };
    std::size_t written = 0;
    idle.at = [&](std::uint32_t now) {
      if (now != c.at) return;
      written = writtenNow();
      throw EInterrupted(c.signal);
    };
    const TFlashOutcome outcome = Run();
    EXPECT_EQ(writtenNow(), written) << "written after the stop";
    EXPECT_EQ(outcome.Code, kExitInterrupted);
    EXPECT_EQ(ExitStatus(outcome), 128 + c.signal);
    EXPECT_EQ(outcome.Error, c.message);
    EXPECT_GE(outcome.BytesSent, c.sent);
    EXPECT_LT(outcome.BytesSent, 7 + kFirmwareImageSize);
    if (c.sent == 0) {
      EXPECT_TRUE(device.Calls("CreateFileW").empty());
    } else {
      EXPECT_FALSE(device.IsOpen(device.LastHandle()));
      EXPECT_FALSE(device.Calls("PurgeComm").empty());
    }
  }
}

}  // namespace
}  // namespace dov::flash
