// Open, Close, Port, Connected, Loaded, destruction and their notifications.
#include <functional>

#include "cport/fw/headless_application.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;

// Writes every open/close notification of the port and of two links into
// the log.
class NotifiedPortTest : public PortTest {
 protected:
  // A handler that logs `what`, followed by " on" or " off" for a state.
  auto Note(std::string what) {
    return [this, what](cport::fw::TObject* sender, auto... state) {
      EXPECT_EQ(sender, &port);
      std::string entry = what;
      ((entry += state ? " on" : " off"), ...);
      log.push_back(entry);
    };
  }

  NotifiedPortTest() {
    port.SetOnBeforeOpen(Note("BeforeOpen"));
    port.SetOnAfterOpen(Note("AfterOpen"));
    port.SetOnBeforeClose(Note("BeforeClose"));
    port.SetOnAfterClose(Note("AfterClose"));
    port.SetOnCTSChange(Note("CTS"));
    port.SetOnDSRChange(Note("DSR"));
    port.SetOnRLSDChange(Note("RLSD"));
    for (auto [link, name] : {std::pair{&a, "a."}, std::pair{&b, "b."}}) {
      const std::string prefix = name;
      link->SetOnConn(Note(prefix + "Conn"));
      link->SetOnCTSChange(Note(prefix + "CTS"));
      link->SetOnDSRChange(Note(prefix + "DSR"));
      link->SetOnRLSDChange(Note(prefix + "RLSD"));
      port.RegisterLink(link);
    }
  }

  // The links go before the port does.
  ~NotifiedPortTest() override {
    port.UnRegisterLink(&a);
    port.UnRegisterLink(&b);
  }

  TComLink a;
  TComLink b;
};

TEST_F(NotifiedPortTest, OpenOpensTheDeviceAppliesSettingsAndNotifies) {
  fake.SetModemStatus(cport::comm::kMsCtsOn);
  port.SetPort(u"COM3");
  port.Open();

  const auto open = fake.Calls("CreateFileW");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].path, u"\\\\.\\COM3");
  EXPECT_THAT(open[0].args, ElementsAre(0xC0000000u, 0u, 3u, 0x40000000u));
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("CreateFileW", "SetupComm", "SetCommState",
                          "SetCommTimeouts", "GetCommModemStatus",
                          "GetCommModemStatus", "GetCommModemStatus"));
  EXPECT_THAT(fake.Calls("SetupComm")[0].args, ElementsAre(1024u, 1024u));
  EXPECT_EQ(fake.Timeouts(),
            (cport::comm::CommTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000}));
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Handle(), fake.LastHandle());
  EXPECT_THAT(log, ElementsAre("BeforeOpen", "a.Conn on", "b.Conn on",
                               "AfterOpen", "a.CTS on", "b.CTS on", "CTS on",
                               "a.DSR off", "b.DSR off", "DSR off",
                               "a.RLSD off", "b.RLSD off", "RLSD off"));
}

TEST_F(NotifiedPortTest, CloseNotifiesAbortsAndClosesTheHandle) {
  OpenPort();
  const cport::comm::Handle h = port.Handle();
  log.clear();
  port.Close();
  EXPECT_THAT(fake.CallNames(), ElementsAre("PurgeComm", "CloseHandle"));
  EXPECT_THAT(fake.Calls("PurgeComm")[0].args, ElementsAre(0x3u));
  EXPECT_FALSE(fake.IsOpen(h));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), cport::comm::kInvalidHandle);
  EXPECT_THAT(log, ElementsAre("a.CTS off", "b.CTS off", "a.DSR off",
                               "b.DSR off", "a.RLSD off", "b.RLSD off",
                               "CTS off", "DSR off", "RLSD off", "BeforeClose",
                               "a.Conn off", "b.Conn off", "AfterClose"));
}

TEST_F(NotifiedPortTest, OpenWhenOpenAndCloseWhenClosedDoNothing) {
  port.Close();
  OpenPort();
  log.clear();
  port.Open();
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(NotifiedPortTest, DestroyingAnOpenPortRunsTheWholeCloseSequence) {
  {
    TComPort owned(nullptr);
    owned.SetEvents({});
    owned.SetOnBeforeClose(
        [&](cport::fw::TObject*) { log.push_back("before"); });
    owned.SetOnAfterClose([&](cport::fw::TObject*) { log.push_back("after"); });
    owned.Open();
    fake.ClearCalls();
  }
  EXPECT_THAT(log, ElementsAre("before", "after"));
  EXPECT_THAT(fake.CallNames(), ElementsAre("PurgeComm", "CloseHandle"));
}

// Fails one step of Open and checks what is left behind.
struct OpenFailure {
  const char* call;
  int code;
  bool handleWasOpened;
};

class OpenFailureTest : public NotifiedPortTest,
                        public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, LeavesThePortClosed) {
  const OpenFailure& f = GetParam();
  fake.FailNext(f.call, cport::comm::kErrorGenFailure);
  const EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code(), f.code);
  EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorGenFailure));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), cport::comm::kInvalidHandle);
  EXPECT_THAT(log, ElementsAre("BeforeOpen"));
  if (f.handleWasOpened) {
    EXPECT_FALSE(fake.IsOpen(fake.LastHandle()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailureTest,
    ::testing::Values(OpenFailure{"CreateFileW", 1, false},
                      OpenFailure{"SetupComm", 9, true},
                      OpenFailure{"SetCommState", 7, true},
                      OpenFailure{"SetCommTimeouts", 8, true}),
    [](const auto& p) { return std::string(p.param.call); });

TEST_F(NotifiedPortTest, ModemStatusFailureAfterOpenLeavesThePortOpen) {
  fake.FailNext("GetCommModemStatus", cport::comm::kErrorGenFailure);
  const EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code(), 11);
  EXPECT_TRUE(port.Connected());
  EXPECT_THAT(log,
              ElementsAre("BeforeOpen", "a.Conn on", "b.Conn on", "AfterOpen"));
}

TEST_F(PortTest, MissingAndBusyPortsFailToOpen) {
  fake.SetDeviceExists(u"\\\\.\\COM7", false);
  port.SetPort(u"COM7");
  EComPort e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code(), 1);
  EXPECT_EQ(Text(e), "Unable to open com port (Error: 2)");

  // The path prefix is added even when the name already has it.
  port.SetPort(u"\\\\.\\COM3");
  e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.WinCode(), 2);

  TComPort other(nullptr);
  other.SetEvents({});
  other.SetPort(u"COM4");
  other.Open();
  port.SetPort(u"COM4");
  e = Raised([&] { port.Open(); });
  EXPECT_EQ(e.Code(), 1);
  EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorAccessDenied));
}

TEST_F(NotifiedPortTest, PortWrittenWhileOpenClosesAndReopens) {
  OpenPort();
  port.SetPort(u"COM1");  // the same text: nothing
  EXPECT_TRUE(fake.Calls().empty());

  log.clear();
  port.SetPort(u"COM9");
  EXPECT_THAT(fake.CallNames({"PurgeComm", "CloseHandle", "CreateFileW"}),
              ElementsAre("PurgeComm", "CloseHandle", "CreateFileW"));
  EXPECT_EQ(fake.Calls("CreateFileW")[0].path, u"\\\\.\\COM9");
  EXPECT_TRUE(port.Connected());
  ASSERT_GE(log.size(), 14u);
  EXPECT_EQ(log[9], "BeforeClose");
  EXPECT_EQ(log[12], "AfterClose");
  EXPECT_EQ(log[13], "BeforeOpen");
}

TEST_F(PortTest, PortNamesCompareCaseSensitively) {
  OpenPort();
  port.SetPort(u"com1");
  EXPECT_EQ(port.Port(), u"com1");
  EXPECT_EQ(fake.Calls("CreateFileW").size(), 1u);
}

TEST_F(PortTest, FailingNewPortLeavesTheOldOneClosedHoldingTheNewName) {
  OpenPort();
  fake.SetDeviceExists(u"\\\\.\\COM8", false);
  const EComPort e = Raised([&] { port.SetPort(u"COM8"); });
  EXPECT_EQ(e.Code(), 1);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), u"COM8");
}

TEST_F(PortTest, ConnectedOpensAndCloses) {
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.Calls("CreateFileW").size(), 1u);
  port.SetConnected(true);
  EXPECT_EQ(fake.Calls("CreateFileW").size(), 1u);
  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(fake.Calls("CloseHandle").size(), 1u);
}

TEST_F(PortTest, DesignModeNeitherOpensNorCloses) {
  port.SetDesigning(true);
  port.Open();
  port.SetConnected(true);  // only stored
  EXPECT_TRUE(port.Connected());
  port.Close();
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(PortTest, LoadedOpensAStoredConnectionAndShowsItsFailure) {
  cport::fw::HeadlessApplication app;
  std::vector<std::u16string> shown;
  app.SetShowException(
      [&](const std::u16string& message, const std::u16string&) {
        shown.push_back(message);
      });

  port.BeginLoading();
  port.SetBaudRate(br115200);
  port.SetConnected(true);
  EXPECT_TRUE(fake.Calls().empty());
  port.EndLoading();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.State().BaudRate, 115200u);
  EXPECT_TRUE(shown.empty());

  TComPort missing(nullptr);
  missing.SetEvents({});
  fake.SetDeviceExists(u"\\\\.\\COM5", false);
  missing.BeginLoading();
  missing.SetPort(u"COM5");
  missing.SetConnected(true);
  missing.EndLoading();
  EXPECT_FALSE(missing.Connected());
  EXPECT_THAT(shown, ElementsAre(u"Unable to open com port (Error: 2)"));
}

// A device gone away: the abort fails, yet the port is not left half-open.
TEST_F(NotifiedPortTest, FailedAbortStillClosesThePortThenReports) {
  OpenPort();
  const cport::comm::Handle h = port.Handle();
  log.clear();
  fake.FailAlways("PurgeComm", cport::comm::kErrorGenFailure);
  const EComPort e = Raised([&] { port.Close(); });
  EXPECT_EQ(e.Code(), 5);
  EXPECT_EQ(Text(e), "PurgeComm function failed (Error: " +
                         std::to_string(cport::comm::kErrorGenFailure) + ")");
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(fake.IsOpen(h));
  EXPECT_EQ(log.back(), "AfterClose");

  fake.ClearFailures();
  port.Open();  // the next update can open the port again
  EXPECT_TRUE(port.Connected());
}

TEST_F(PortTest, FailedCloseHandleIsNotReportedAndKeepsTheHandle) {
  OpenPort();
  const cport::comm::Handle h = port.Handle();
  fake.FailNext("CloseHandle", cport::comm::kErrorGenFailure);
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), h);
}

}  // namespace
}  // namespace cport::testing
