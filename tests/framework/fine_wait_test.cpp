#include "cport/fw/fine_wait.h"

#include <gtest/gtest.h>

#include <chrono>

#include "cport/fw/wake_lead.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// A fine wait may come back late on a busy machine, never early: a pause of
// an update that ended before its deadline would be too short for the
// device. The lengths span the spin alone, a timer with a spin after it,
// and a deadline already past.
TEST(FineWaitTest, NeverEndsBeforeItsDeadline) {
  for (const auto length :
       {microseconds(-500), microseconds(0), microseconds(40),
        microseconds(700), microseconds(3500), microseconds(12000)}) {
    for (int i = 0; i < 5; ++i) {
      const auto deadline = Clock::now() + length;
      cport::fw::SleepUntil(deadline);
      EXPECT_GE(Clock::now(), deadline) << length.count() << " us";
    }
  }
}

#ifdef _WIN32
TEST(FineWaitTest, ASignalledHandleEndsTheWaitAtOnce) {
  const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  EXPECT_TRUE(cport::fw::WaitUntil(&event, 1, 0, deadline));
  EXPECT_LT(Clock::now(), deadline);
  ResetEvent(event);
  EXPECT_FALSE(
      cport::fw::WaitUntil(&event, 1, 0, Clock::now() + milliseconds(5)));
  CloseHandle(event);
}
#endif

// The lead rises at once to a late wake-up (bounded above), so the next
// wait is not late again, and sinks slowly and never below its floor, so
// one early wake-up does not undo what a run of late ones taught.
TEST(WakeLeadTest, RisesAtOnceAndSinksSlowly) {
  cport::fw::TWakeLead lead(microseconds(100), microseconds(10),
                            microseconds(300));
  lead.Woke(Clock::now() - microseconds(250));
  EXPECT_GE(lead.Lead(), microseconds(250));
  lead.Woke(Clock::now() - milliseconds(50));
  EXPECT_EQ(lead.Lead(), microseconds(300));
  lead.Woke(Clock::now() + milliseconds(1));  // woke before it was due
  EXPECT_GT(lead.Lead(), microseconds(280));
  // Each wake-up before its due time, so the machine's own delays between
  // the two readings of the clock cannot count as lateness.
  for (int i = 0; i < 1000; ++i) lead.Woke(Clock::now() + milliseconds(1));
  EXPECT_LT(lead.Lead(), microseconds(11));
}

}  // namespace
