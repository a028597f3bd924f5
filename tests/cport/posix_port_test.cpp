// The port on the POSIX backend, over a pseudo-terminal whose far end takes
// nothing: transfers that need no device, and transfers ended by Close, end
// as they do on Windows.
#include <gtest/gtest.h>

#include <string>

#include "cport/comport.h"
#include "platform/pty_fixture.h"

namespace cport {
namespace {

class PortOnPty : public ::testing::Test {
 protected:
  PortOnPty() {
    prefix.Map(7, pty.SlavePath());
    port.SetPort(u"COM7");
  }

  // The error that `body` raises, or 0 when it raises none.
  template <class Body>
  int Raised(Body body) {
    try {
      body();
    } catch (const EComPort& e) {
      message = e.what();
      return e.WinCode();
    }
    return 0;
  }

  cport::comm::test::PtyPair pty;
  cport::comm::test::TempPrefix prefix;
  TComPort port{nullptr};
  std::string message;
};

TEST_F(PortOnPty, EmptyTransfersOnAClosedPortRaiseNothing) {
  ASSERT_FALSE(port.Connected());
  std::u16string text = u"old";
  EXPECT_EQ(Raised([&] { EXPECT_EQ(port.WriteStr(u""), 0); }), 0) << message;
  EXPECT_EQ(Raised([&] { EXPECT_EQ(port.ReadStr(text, 0), 0); }), 0) << message;
  EXPECT_TRUE(text.empty());
}

TEST_F(PortOnPty, TransferEndedByCloseIsReportedAborted) {
  ASSERT_TRUE(pty.Ok());
  port.Open();
  const std::string flood(1 << 20, 'f');
  PAsync async = nullptr;
  AllocAsync(async);
  port.WriteAsync(flood.data(), static_cast<std::int32_t>(flood.size()), async);
  port.Close();
  EXPECT_EQ(Raised([&] { port.WaitForAsync(async); }),
            static_cast<int>(cport::comm::kErrorOperationAborted))
      << message;
  EXPECT_EQ(message.rfind("WriteFile function failed", 0), 0u) << message;
  ReleaseAsync(async);
}

}  // namespace
}  // namespace cport
