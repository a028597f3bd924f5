// Defaults, setters, the device control block and the update bracket.
#include <functional>

#include "port_fixture.h"

namespace cport::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(PortTest, NewPortHasTheDefaultsAndMakesNoDeviceCall) {
  TComPort fresh(nullptr);
  EXPECT_EQ(fresh.BaudRate(), br9600);
  EXPECT_EQ(fresh.CustomBaudRate(), 9600);
  EXPECT_EQ(fresh.DataBits(), dbEight);
  EXPECT_EQ(fresh.StopBits(), sbOneStopBit);
  EXPECT_EQ(fresh.Parity().Bits(), prNone);
  EXPECT_EQ(fresh.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(fresh.Port(), u"COM1");
  EXPECT_EQ(fresh.Events(), kAllComEvents);
  EXPECT_EQ(fresh.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(fresh.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(fresh.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(fresh.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(fresh.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(fresh.Buffer().InputSize(), 1024);
  EXPECT_EQ(fresh.Buffer().OutputSize(), 1024);
  EXPECT_EQ(fresh.Handle(), cport::comm::kInvalidHandle);
  EXPECT_FALSE(fresh.Connected());
  EXPECT_EQ(fresh.CodePage(), 0u);
  EXPECT_TRUE(fresh.TriggersOnRxChar());
  EXPECT_EQ(fresh.SyncMethod(), smThreadSync);
  EXPECT_EQ(fresh.EventThreadPriority(), tpNormal);
  EXPECT_EQ(fresh.StoredProps(), TStoredProps{spBasic});
  EXPECT_EQ(fresh.Parity().ComPort(), &fresh);
  EXPECT_EQ(fresh.Timeouts().ComPort(), &fresh);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(PortTest, UpdaterSettingsGiveTheExpectedControlBlock) {
  port.SetBaudRate(br115200);
  port.Open();
  const auto calls = fake.Calls("SetCommState");
  ASSERT_EQ(calls.size(), 1u);
  const cport::comm::Dcb& dcb = calls[0].dcb;
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.Flags, 0x00000001u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
}

// Each case changes settings on a closed port; Open must send them all.
struct DcbCase {
  const char* name;
  std::function<void(TCustomComPort&)> change;
  std::function<void(const cport::comm::Dcb&)> check;
};

class DcbTest : public PortTest,
                public ::testing::WithParamInterface<DcbCase> {};

TEST_P(DcbTest, BuiltFromTheSettings) {
  GetParam().change(port);
  port.Open();
  ASSERT_EQ(fake.Calls("SetCommState").size(), 1u);
  GetParam().check(fake.Calls("SetCommState")[0].dcb);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DcbTest,
    ::testing::Values(
        DcbCase{
            "CustomRateUsedOnlyWithBrCustom",
            [](TCustomComPort& p) {
              p.SetCustomBaudRate(31250);
              p.SetBaudRate(brCustom);
            },
            [](const cport::comm::Dcb& d) { EXPECT_EQ(d.BaudRate, 31250u); }},
        DcbCase{
            "CustomRateIgnoredOtherwise",
            [](TCustomComPort& p) { p.SetCustomBaudRate(31250); },
            [](const cport::comm::Dcb& d) { EXPECT_EQ(d.BaudRate, 9600u); }},
        DcbCase{"FrameShape",
                [](TCustomComPort& p) {
                  p.SetDataBits(dbSeven);
                  p.SetStopBits(sbTwoStopBits);
                  p.Parity().SetBits(prSpace);
                  p.SetEventChar(u'\u0141');  // only the low byte reaches
                },
                [](const cport::comm::Dcb& d) {
                  EXPECT_EQ(d.ByteSize, 7);
                  EXPECT_EQ(d.StopBits, 2);
                  EXPECT_EQ(d.Parity, 4);
                  EXPECT_EQ(d.EvtChar, 0x41);
                }},
        DcbCase{"EveryFlowFlag",
                [](TCustomComPort& p) {
                  TComFlowControl& f = p.FlowControl();
                  f.SetOutCTSFlow(true);
                  f.SetOutDSRFlow(true);
                  f.SetControlDTR(dtrHandshake);
                  f.SetDSRSensitivity(true);
                  f.SetTxContinueOnXoff(true);
                  f.SetXonXoffOut(true);
                  f.SetXonXoffIn(true);
                  f.SetControlRTS(rtsToggle);
                  f.SetXonChar(u'\u0121');
                  f.SetXoffChar(u'\u0122');
                  p.SetDiscardNull(true);
                },
                [](const cport::comm::Dcb& d) {
                  EXPECT_EQ(d.Flags, 0x3BEDu);
                  EXPECT_EQ(d.XonChar, 0x21);
                  EXPECT_EQ(d.XoffChar, 0x22);
                }},
        DcbCase{"ReplaceWithoutCheckSetsNothing",
                [](TCustomComPort& p) {
                  p.Parity().SetReplace(true);
                  p.Parity().SetReplaceChar(u'?');
                },
                [](const cport::comm::Dcb& d) {
                  EXPECT_EQ(d.Flags, cport::comm::kDcbBinary);
                  EXPECT_EQ(d.ErrorChar, 0);
                }},
        DcbCase{"CheckAndReplace",
                [](TCustomComPort& p) {
                  p.Parity().SetCheck(true);
                  p.Parity().SetReplace(true);
                  p.Parity().SetReplaceChar(u'?');
                },
                [](const cport::comm::Dcb& d) {
                  EXPECT_EQ(d.Flags, cport::comm::kDcbBinary |
                                         cport::comm::kDcbParity |
                                         cport::comm::kDcbErrorChar);
                  EXPECT_EQ(d.ErrorChar, '?');
                }},
        DcbCase{"LimitsKeepTheLow16BitsOfAQuarter",
                [](TCustomComPort& p) { p.Buffer().SetInputSize(262144 + 8); },
                [](const cport::comm::Dcb& d) {
                  EXPECT_EQ(d.XonLim, 2);
                  EXPECT_EQ(d.XoffLim, 2);
                }}),
    [](const auto& p) { return std::string(p.param.name); });

// Every line setting sends the block once when it changes, never when the
// value is the one already held.
TEST_F(PortTest, ChangedSettingSendsItsGroupOnceAndAnEqualValueNothing) {
  OpenPort();
  const std::vector<std::pair<std::string, std::function<void()>>> writes = {
      {"SetCommState", [&] { port.SetBaudRate(br115200); }},
      {"SetCommState", [&] { port.SetCustomBaudRate(1234); }},
      {"SetCommState", [&] { port.SetDataBits(dbSix); }},
      {"SetCommState", [&] { port.SetStopBits(sbOne5StopBits); }},
      {"SetCommState", [&] { port.SetDiscardNull(true); }},
      {"SetCommState", [&] { port.SetEventChar(u'x'); }},
      {"SetCommState", [&] { port.Parity().SetCheck(true); }},
      {"SetCommState", [&] { port.FlowControl().SetXonChar(1); }},
      {"SetCommTimeouts", [&] { port.Timeouts().SetReadInterval(10); }},
      {"SetCommTimeouts", [&] { port.Timeouts().SetWriteTotalConstant(5); }},
      {"SetupComm", [&] { port.Buffer().SetInputSize(2048); }},
      {"SetupComm", [&] { port.Buffer().SetOutputSize(512); }},
  };
  for (const auto& [call, write] : writes) {
    fake.ClearCalls();
    write();
    EXPECT_THAT(fake.CallNames(), ElementsAre(call));
    fake.ClearCalls();
    write();
    EXPECT_TRUE(fake.Calls().empty()) << call << " sent for an equal value";
  }
}

TEST_F(PortTest, QueueSizeChangeSendsOnlyTheQueueSizes) {
  OpenPort();
  port.Buffer().SetInputSize(4096);
  const auto setup = fake.Calls("SetupComm");
  ASSERT_EQ(setup.size(), 1u);
  EXPECT_THAT(setup[0].args, ElementsAre(4096u, 1024u));
  EXPECT_EQ(fake.State().XonLim, 256);  // until the line settings are sent
}

TEST_F(PortTest, SettingsWrittenWhileClosedAreOnlyStored) {
  port.SetBaudRate(br57600);
  port.Timeouts().SetReadInterval(5);
  port.Buffer().SetInputSize(100);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST(QueueSize, OddPositiveSizesRoundDownOthersStayAsWritten) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> cases = {
      {1025, 1024}, {1, 0}, {2048, 2048}, {0, 0}, {-3, -3}, {-4, -4}};
  for (const auto& [written, stored] : cases) {
    TComBuffer buffer;
    buffer.SetInputSize(written);
    buffer.SetOutputSize(written);
    EXPECT_EQ(buffer.InputSize(), stored) << written;
    EXPECT_EQ(buffer.OutputSize(), stored) << written;
  }
}

TEST_F(PortTest, RoundedQueueSizeWrittenAgainSendsNothing) {
  OpenPort();
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  fake.ClearCalls();
  port.Buffer().SetInputSize(1024);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST(FlowControlSummary, ReadsTheFourMembers) {
  struct Case {
    TRTSFlowControl rts;
    bool cts, xin, xout;
    TFlowControl expected;
  };
  const std::vector<Case> cases = {
      {rtsHandshake, true, false, false, fcHardware},
      {rtsDisable, false, true, true, fcSoftware},
      {rtsDisable, false, false, false, fcNone},
      {rtsHandshake, false, false, false, fcCustom},
      {rtsDisable, false, true, false, fcCustom},
      {rtsEnable, false, false, false, fcCustom},
      {rtsHandshake, true, true, true, fcCustom},
  };
  for (const Case& c : cases) {
    TComFlowControl flow;
    flow.SetControlRTS(c.rts);
    flow.SetOutCTSFlow(c.cts);
    flow.SetXonXoffIn(c.xin);
    flow.SetXonXoffOut(c.xout);
    EXPECT_EQ(flow.FlowControl(), c.expected)
        << int(c.rts) << c.cts << c.xin << c.xout;
  }
}

TEST(FlowControlSummary, WritingSetsTheFourAndLeavesTheRest) {
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetOutDSRFlow(true);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());

  flow.SetControlDTR(dtrEnable);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);
  EXPECT_TRUE(flow.OutDSRFlow());
  EXPECT_TRUE(flow.DSRSensitivity());
  EXPECT_TRUE(flow.TxContinueOnXoff());

  flow.SetControlRTS(rtsEnable);
  flow.SetFlowControl(fcCustom);
  EXPECT_EQ(flow.ControlRTS(), rtsEnable);
}

TEST_F(PortTest, FlowControlSummaryAlwaysSendsTheLine) {
  OpenPort();
  port.FlowControl().SetFlowControl(fcNone);
  port.FlowControl().SetFlowControl(fcCustom);
  EXPECT_THAT(fake.CallNames(), ElementsAre("SetCommState", "SetCommState"));
}

TEST(Assign, SameClassCopiesValuesOnlyAndKeepsTheOwner) {
  TComPort owner(nullptr);
  TComTimeouts source;
  source.SetReadInterval(7);
  source.SetReadTotalMultiplier(1);
  source.SetReadTotalConstant(2);
  source.SetWriteTotalMultiplier(3);
  source.SetWriteTotalConstant(4);
  owner.Timeouts().Assign(source);
  const TComTimeouts& t = owner.Timeouts();
  EXPECT_EQ(t.ReadInterval(), 7);
  EXPECT_EQ(t.ReadTotalMultiplier(), 1);
  EXPECT_EQ(t.ReadTotalConstant(), 2);
  EXPECT_EQ(t.WriteTotalMultiplier(), 3);
  EXPECT_EQ(t.WriteTotalConstant(), 4);
  EXPECT_EQ(t.ComPort(), &owner);
  EXPECT_EQ(source.ComPort(), nullptr);

  TComBuffer odd;
  odd.SetInputSize(-5);
  TComBuffer copy;
  copy.Assign(odd);
  EXPECT_EQ(copy.InputSize(), -5);

  TComParity parity;
  parity.SetBits(prMark);
  parity.SetReplaceChar(u'#');
  TComParity parityCopy;
  parityCopy.Assign(parity);
  EXPECT_EQ(parityCopy.Bits(), prMark);
  EXPECT_EQ(parityCopy.ReplaceChar(), u'#');

  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetXoffChar(1);
  TComFlowControl flowCopy;
  flowCopy.Assign(flow);
  EXPECT_EQ(flowCopy.FlowControl(), fcHardware);
  EXPECT_EQ(flowCopy.XoffChar(), 1);
}

TEST(Assign, DifferentClassFailsNamingBothClasses) {
  TComParity parity;
  TComTimeouts timeouts;
  try {
    timeouts.Assign(parity);
    FAIL() << "no error";
  } catch (const cport::fw::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TComParity to a TComTimeouts");
  }
}

TEST_F(PortTest, ObjectPropertyCopiesAndSendsItsGroupOnce) {
  OpenPort();
  TComTimeouts other;
  other.SetReadInterval(20);
  port.SetTimeouts(other);
  EXPECT_THAT(fake.CallNames(), ElementsAre("SetCommTimeouts"));
  EXPECT_EQ(fake.Timeouts().ReadIntervalTimeout, 20u);
  EXPECT_EQ(port.Timeouts().ComPort(), &port);
  EXPECT_NE(&port.Timeouts(), &other);

  fake.ClearCalls();
  port.SetParity(TComParity());
  port.SetFlowControl(TComFlowControl());
  port.SetBuffer(TComBuffer());
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("SetCommState", "SetCommState", "SetupComm"));
}

TEST_F(PortTest, UpdateBracketSendsAllGroupsOnceAtTheOutermostEnd) {
  OpenPort();
  port.BeginUpdate();
  port.BeginUpdate();
  port.SetBaudRate(br115200);
  port.Timeouts().SetReadInterval(10);
  port.Buffer().SetOutputSize(2048);
  port.EndUpdate();
  EXPECT_TRUE(fake.Calls().empty());
  port.EndUpdate();
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("SetupComm", "SetCommState", "SetCommTimeouts"));
  EXPECT_EQ(fake.State().BaudRate, 115200u);
  EXPECT_EQ(fake.Timeouts().ReadIntervalTimeout, 10u);

  fake.ClearCalls();
  port.EndUpdate();  // unmatched: nothing
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(PortTest, OpenInsideAnUpdateBracketAppliesNothingUntilItsEnd) {
  port.BeginUpdate();
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(fake.Calls("SetCommState").empty());
  fake.ClearCalls();
  port.EndUpdate();
  EXPECT_THAT(fake.CallNames(),
              ElementsAre("SetupComm", "SetCommState", "SetCommTimeouts"));
}

TEST_F(PortTest, ApplyFailureWhileOpenKeepsTheNewValueAndThePortOpen) {
  OpenPort();
  struct Case {
    const char* call;
    int code;
    std::function<void()> write;
  };
  const std::vector<Case> cases = {
      {"SetCommState", 7, [&] { port.SetBaudRate(br300); }},
      {"SetCommTimeouts", 8, [&] { port.Timeouts().SetReadInterval(3); }},
      {"SetupComm", 9, [&] { port.Buffer().SetInputSize(64); }},
  };
  for (const Case& c : cases) {
    fake.FailNext(c.call, cport::comm::kErrorGenFailure);
    const EComPort e = Raised(c.write);
    EXPECT_EQ(e.Code(), c.code) << c.call;
    EXPECT_EQ(e.WinCode(), static_cast<int>(cport::comm::kErrorGenFailure));
    EXPECT_TRUE(port.Connected());
  }
  EXPECT_EQ(port.BaudRate(), br300);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 3);
  EXPECT_EQ(port.Buffer().InputSize(), 64);
}

TEST_F(PortTest, ThreadSettingsAreRefusedWhileConnected) {
  port.SetSyncMethod(smWindowSync);  // closed: stored
  EXPECT_EQ(port.SyncMethod(), smWindowSync);
  port.SetSyncMethod(smThreadSync);
  OpenPort();
  port.SetSyncMethod(smThreadSync);  // the same value: nothing
  port.SetEventThreadPriority(tpNormal);

  EComPort e = Raised([&] { port.SetSyncMethod(smNone); });
  EXPECT_EQ(e.Code(), 14);
  EXPECT_EQ(Text(e), "Cannot set property while connected");
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  e = Raised([&] { port.SetEventThreadPriority(tpHighest); });
  EXPECT_EQ(e.Code(), 14);
  EXPECT_EQ(port.EventThreadPriority(), tpNormal);
}

}  // namespace
}  // namespace cport::testing
