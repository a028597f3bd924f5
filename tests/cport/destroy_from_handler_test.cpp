// A handler that runs on the calling thread may destroy the port from
// inside its own notification, link calls and error reports included: the
// call it came from then returns without touching the freed port (the
// sanitizer builds report any use), and the device is closed all the same.
// The links' calls inside blocking writes are tried in transfers_test.cpp.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace cport::testing {
namespace {

// A handler of any notification's shape that destroys the port.
struct Destroy {
  std::unique_ptr<TComPort>* owned;
  template <class... Args>
  void operator()(Args&&...) const {
    owned->reset();
  }
};

struct DestroyCase {
  const char* name;
  bool open;            // the port is open before `act`
  const char* failing;  // the comm call that fails, or null
  std::function<void(TComPort&, TComLink&, const Destroy&)> arm;
  std::function<void(TComPort&)> act;
};

void Open(TComPort& p) { p.Open(); }
void Close(TComPort& p) { p.Close(); }

TEST_F(PortTest, EveryNotificationMayDestroyThePort) {
  using P = TComPort;
  using L = TComLink;
  using D = Destroy;
  const auto onException = [](P& p, L&, const D& d) { p.SetOnException(d); };
  const std::vector<DestroyCase> cases = {
      {"OnBeforeOpen", false, nullptr,
       [](P& p, L&, const D& d) { p.SetOnBeforeOpen(d); }, Open},
      {"OnException, device not opened", false, "CreateFileW", onException,
       Open},
      {"OnException, settings refused", false, "SetupComm", onException, Open},
      {"link OnConn in Open", false, nullptr,
       [](P&, L& l, const D& d) { l.SetOnConn(d); }, Open},
      {"OnAfterOpen", false, nullptr,
       [](P& p, L&, const D& d) { p.SetOnAfterOpen(d); }, Open},
      {"link OnCTSChange in Open", false, nullptr,
       [](P&, L& l, const D& d) { l.SetOnCTSChange(d); }, Open},
      {"OnCTSChange in Open", false, nullptr,
       [](P& p, L&, const D& d) { p.SetOnCTSChange(d); }, Open},
      {"OnDSRChange in Open", false, nullptr,
       [](P& p, L&, const D& d) { p.SetOnDSRChange(d); }, Open},
      {"OnException, line state unread in Open", false, "GetCommModemStatus",
       onException, Open},
      {"link OnCTSChange in Close", true, nullptr,
       [](P&, L& l, const D& d) { l.SetOnCTSChange(d); }, Close},
      {"OnDSRChange in Close", true, nullptr,
       [](P& p, L&, const D& d) { p.SetOnDSRChange(d); }, Close},
      {"OnBeforeClose", true, nullptr,
       [](P& p, L&, const D& d) { p.SetOnBeforeClose(d); }, Close},
      {"OnException, abort failed in Close", true, "PurgeComm", onException,
       Close},
      {"link OnConn in Close", true, nullptr,
       [](P&, L& l, const D& d) { l.SetOnConn(d); }, Close},
      {"OnAfterClose", true, nullptr,
       [](P& p, L&, const D& d) { p.SetOnAfterClose(d); }, Close},
      {"OnAfterClose, moved to another device", true, nullptr,
       [](P& p, L&, const D& d) { p.SetOnAfterClose(d); },
       [](P& p) { p.SetPort(u"COM4"); }},
      {"link OnRx in ReadUnicodeString", true, nullptr,
       [](P&, L& l, const D& d) { l.SetOnRx(d); },
       [this](P& p) {
         fake.Receive("ab");
         std::u16string text;
         p.ReadUnicodeString(text, 2);
       }},
      {"OnException, Write on a closed port", false, nullptr, onException,
       [](P& p) { p.Write("ab", 2); }},
      {"OnException, write result unread", true, "GetOverlappedResult",
       onException, [](P& p) { p.Write("ab", 2); }},
      {"OnException, LastErrors unread", true, "ClearCommError", onException,
       [](P& p) { p.LastErrors(); }},
      {"OnException, link registered twice", false, nullptr, onException,
       [](P& p) { p.RegisterLink(nullptr); }},
  };
  for (const DestroyCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto owned = std::make_unique<TComPort>(nullptr);
    owned->SetEvents({});
    TComLink link;
    owned->RegisterLink(&link);
    if (c.open) owned->Open();
    c.arm(*owned, link, Destroy{&owned});
    if (c.failing != nullptr)
      fake.FailNext(c.failing, cport::comm::kErrorGenFailure);
    TComPort& victim = *owned;
    c.act(victim);
    EXPECT_EQ(owned, nullptr);
    EXPECT_FALSE(fake.IsOpen(fake.LastHandle()));
    fake.ClearFailures();
  }
}

}  // namespace
}  // namespace cport::testing
