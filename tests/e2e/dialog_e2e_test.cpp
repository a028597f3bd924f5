// The Qt dialog, offscreen inside the real Qt application, against the
// device simulator: "Update" pressed as a user presses it, the error boxes
// caught as they would be shown.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "cport/comport.h"
#include "cport/fw/qt_application.h"
#include "cport/fw/text.h"
#include "e2e_support.h"
#include "form4_view.h"
#include "updater/device_console.h"
#include "updater/form4_layout.h"
#include "updater/pump_delay.h"
#include "updater/waiting_pause.h"

namespace e2e {
namespace {

class DialogE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The dialog spins through its pauses, as it must. Here the host and the
    // simulated device share the machine's cores, so the host runs at a
    // lower priority: the kernel's hand-over of its bytes to the device (and
    // the device, which asks for real-time priority) is not starved by it.
    // Threads and programs started from here inherit it.
    setpriority(PRIO_PROCESS, 0, 10);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "dialog_e2e_test";
    static char* argv[] = {name, nullptr};
    qt = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete qt;
    qt = nullptr;
  }

  DialogE2E() {
    // The dialog finds COM3 in this test's own DOS-device directory.
    setenv("WINEPREFIX", prefix.Path().c_str(), 1);
    application.SetTitle(dov::form4::kApplicationTitle);
    application.SetShowException(
        [this](const std::u16string& message, const std::u16string& caption) {
          shown.emplace_back(cport::fw::ToUtf8(message),
                             cport::fw::ToUtf8(caption));
        });
    view.show();
    application.ProcessMessages();
  }

  // A click on "Update": the whole update runs inside it.
  void Press() { view.Button8()->click(); }
  cport::TComPort& Port() { return *view.Logic().ComPort1; }
  // The error boxes shown so far, by their text.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& [text, caption] : shown) {
      EXPECT_EQ(caption, "ROZ ERUVORU");
      texts.push_back(text);
    }
    return texts;
  }

  static QApplication* qt;
  TempPrefix prefix;
  cport::fw::TQtApplication application;
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle{application, ticks};
  dov::TDeviceConsole tool;
  dov::TForm4View view{{ticks, idle, tool}};
  std::vector<std::pair<std::string, std::string>> shown;
};

QApplication* DialogE2E::qt = nullptr;

TEST_F(DialogE2E, FlashesTheSimulatorAndKeepsThePortOpen) {
  Simulator device(prefix, 3, {"--chatter"});
  ASSERT_TRUE(device.WaitReady());
  Press();
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_TRUE(Port().Connected());
  EXPECT_FALSE(view.ProgressBar1()->isVisible());
  EXPECT_EQ(view.ProgressBar1()->value(), 20480);

  const std::string sim = device.Report(milliseconds(10000));
  ExpectCompleteUpdateThroughChatter(sim);
}

TEST_F(DialogE2E, ADeviceThatVanishedCostsOneErrorAndTheNextPressWorks) {
  {
    // The device goes in mid-stream: the write fails and the port stays
    // open on the dead device, the bar where it stopped.
    Simulator device(prefix, 3, {"--vanish-after", "300"});
    ASSERT_TRUE(device.WaitReady());
    Press();
    EXPECT_EQ(Boxes(),
              std::vector<std::string>{"WriteFile function failed (Error: 5)"});
    EXPECT_TRUE(Port().Connected());
    EXPECT_TRUE(view.ProgressBar1()->isVisible());
    EXPECT_EQ(JsonField(device.Report(milliseconds(5000)), "end"),
              "\"vanished\"");
  }
  // The next press meets the dead device when it closes the port: aborting
  // on a device that has gone fails, the update stops there, and the port is
  // closed all the same.
  shown.clear();
  Press();
  EXPECT_EQ(Boxes(),
            std::vector<std::string>{"PurgeComm function failed (Error: 5)"});
  EXPECT_FALSE(Port().Connected());

  // With the device back, the press after that opens it anew and sends.
  shown.clear();
  Simulator device(prefix, 3, {"--vanish-after", "64"});
  ASSERT_TRUE(device.WaitReady());
  Press();
  const std::string sim = device.Report(milliseconds(5000));
  EXPECT_EQ(JsonField(sim, "boot"), "\"received\"") << sim;
  EXPECT_EQ(JsonField(sim, "bytes_received"), "64");
  EXPECT_EQ(Boxes(),
            std::vector<std::string>{"WriteFile function failed (Error: 5)"});
}

}  // namespace
}  // namespace e2e
