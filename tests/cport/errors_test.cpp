// The error messages, the OnException path and the link registration
// errors.
#include "cport/fw/text.h"
#include "error_texts.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;

// A port whose error path the test drives directly.
class ReportingPort : public TComPort {
 public:
  using TComPort::TComPort;
  using TCustomComPort::RaisePortError;
};

// Every code's message, alone and with a system number; the handler's kind
// and message for each code.
TEST(EComPortMessage, EveryCodeHasItsTextAndTheSystemNumberFollows) {
  cport::comm::FakeComm fake;
  cport::comm::ScopedApi scope(fake);
  ReportingPort port(nullptr);
  TComExceptions kind{};
  std::u16string message;
  port.SetOnException([&](cport::fw::TObject*, TComExceptions k,
                          const std::u16string& m, std::int64_t,
                          const std::u16string&) {
    kind = k;
    message = m;
  });
  for (int code = 1; code <= 24; ++code) {
    SCOPED_TRACE(code);
    const std::string text = kErrorTexts[static_cast<std::size_t>(code)];
    EXPECT_EQ(Text(EComPort(code)), text);
    EXPECT_EQ(EComPort(code).WinCode(), -1);
    EXPECT_EQ(Text(EComPort(code, 2)), text + " (Error: 2)");
    EXPECT_EQ(Text(EComPort(code, -5)), text + " (Error: -5)");
    EXPECT_EQ(EComPort(code, -5).WinCode(), -5);
    EXPECT_EQ(EComPort(code, 0).Code(), code);
    port.RaisePortError(static_cast<std::uint16_t>(code), 0);
    EXPECT_EQ(static_cast<int>(kind), code - 1);
    EXPECT_EQ(cport::fw::ToUtf8(message), text);
  }
  EXPECT_EQ(PortErrorMessage(0), u"");
  EXPECT_EQ(PortErrorMessage(25), u"");
}

// Reports made through a real failing call of the port.
TEST_F(PortTest, RaisedErrorsCarryTheLow32BitsOfTheSystemNumber) {
  OpenPort();
  fake.FailNext("EscapeCommFunction", 0x80000005u);
  EComPort e = Raised([&] { port.SetRTS(true); });
  EXPECT_EQ(e.WinCode(), static_cast<int>(0x80000005u));
  EXPECT_EQ(Text(e), "EscapeCommFunction function failed (Error: -2147483643)");

  fake.FailNext("EscapeCommFunction", 0);  // no number: no suffix
  e = Raised([&] { port.SetRTS(true); });
  EXPECT_EQ(e.WinCode(), -1);
  EXPECT_EQ(Text(e), "EscapeCommFunction function failed");
}

struct Reported {
  TComExceptions kind;
  std::u16string message;
  std::int64_t winError;
  std::u16string winMessage;
};

class HandledPortTest : public PortTest {
 protected:
  HandledPortTest() {
    port.SetOnException([this](cport::fw::TObject* sender, TComExceptions kind,
                               const std::u16string& message,
                               std::int64_t winError,
                               const std::u16string& winMessage) {
      EXPECT_EQ(sender, &port);
      reports.push_back({kind, message, winError, winMessage});
    });
  }
  // Errors of the closing are still handled while `reports` exists.
  ~HandledPortTest() override { port.Close(); }

  std::vector<Reported> reports;
};

TEST_F(HandledPortTest, HandlerGetsTheErrorAndTheOperationGoesOn) {
  fake.SetDeviceExists(u"\\\\.\\COM1", false);
  port.Open();
  ASSERT_GE(reports.size(), 1u);
  const Reported& r = reports[0];
  EXPECT_EQ(r.kind, CE_OpenFailed);
  EXPECT_EQ(r.message, u"Unable to open com port");
  EXPECT_EQ(r.winError, 2);
  EXPECT_EQ(r.winMessage.substr(0, 23), u"System Error.  Code: 2.");
  EXPECT_EQ(r.winMessage.substr(23, 2), u"\r\n");
  EXPECT_EQ(r.winMessage.substr(25), cport::comm::Api().FormatMessageW(2));
  // Open went on: marked open with an invalid handle, each step reporting.
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(reports[1].kind, CE_SetupComFailed);
  EXPECT_EQ(reports[2].kind, CE_SetStateFailed);
  EXPECT_EQ(reports[3].kind, CE_TimeoutsFailed);
}

TEST_F(HandledPortTest, PortNotOpenCarriesMinus24AndNoSystemText) {
  std::uint8_t byte = 0;
  port.Write(&byte, 1);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, CEPortNotOpen);
  EXPECT_EQ(reports[0].message, u"Port Not Open");
  EXPECT_EQ(reports[0].winError, -24);
  EXPECT_EQ(reports[0].winMessage, u"");
  // The write is issued anyway and fails on its own.
  EXPECT_EQ(reports[1].kind, CE_WriteFailed);
}

TEST_F(HandledPortTest, RefusedThreadSettingKeepsTheOldValue) {
  OpenPort();
  port.SetSyncMethod(smNone);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, CE_ConnChangeProp);
  EXPECT_EQ(reports[0].winError, 0);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
}

TEST_F(PortTest, LinkRegistrationErrors) {
  TComLink link;
  port.RegisterLink(&link);
  EComPort e = Raised([&] { port.RegisterLink(&link); });
  EXPECT_EQ(e.Code(), 18);
  EXPECT_EQ(Text(e), "Link (un)registration failed");
  port.UnRegisterLink(&link);
  EXPECT_EQ(Raised([&] { port.UnRegisterLink(&link); }).Code(), 18);
  EXPECT_EQ(Raised([&] { port.RegisterLink(nullptr); }).Code(), 18);
}

TEST_F(PortTest, LinkWithRxBufTakesOverTheReceivedData) {
  TComLink link;
  link.SetOnRxBuf(
      [](cport::fw::TObject*, const std::uint8_t*, std::int32_t) {});
  TComLink late;
  port.RegisterLink(&late);
  port.RegisterLink(&link);
  EXPECT_FALSE(port.TriggersOnRxChar());
  EComPort e = Raised([&] { port.SetTriggersOnRxChar(true); });
  EXPECT_EQ(e.Code(), 22);

  // Only (un)registration looks at the links' OnRxBuf again.
  port.UnRegisterLink(&link);
  EXPECT_TRUE(port.TriggersOnRxChar());
  late.SetOnRxBuf(link.OnRxBuf());
  EXPECT_TRUE(port.TriggersOnRxChar());
  port.UnRegisterLink(&late);
  port.RegisterLink(&late);
  EXPECT_FALSE(port.TriggersOnRxChar());
}

TEST_F(HandledPortTest, TriggersOnRxCharIsStoredAfterTheHandledError) {
  TComLink link;
  link.SetOnRxBuf(
      [](cport::fw::TObject*, const std::uint8_t*, std::int32_t) {});
  port.RegisterLink(&link);
  port.SetTriggersOnRxChar(false);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, CE_HasLink);
  port.UnRegisterLink(&link);
  EXPECT_FALSE(port.TriggersOnRxChar());
}

TEST_F(PortTest, LinksAreToldInRegistrationOrderSkippingUnassigned) {
  TComLink first, silent, last;
  first.SetOnConn([&](cport::fw::TObject*, bool on) {
    log.push_back(on ? "first on" : "first off");
  });
  last.SetOnConn([&](cport::fw::TObject*, bool on) {
    log.push_back(on ? "last on" : "last off");
  });
  port.RegisterLink(&first);
  port.RegisterLink(&silent);
  port.RegisterLink(&last);
  port.Open();
  port.Close();
  EXPECT_THAT(log, ElementsAre("first on", "last on", "first off", "last off"));
}

}  // namespace
}  // namespace cport::testing
