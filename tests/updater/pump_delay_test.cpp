// The pause: its length on the tick counter, wherever the counter stands,
// and its idle work between reads.
#include "updater/pump_delay.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace dov {
namespace {

// A counter that moves by `stride` ms on every idle turn.
struct SteppingClock : TTickCounter, TPauseIdle {
  std::uint32_t now = 0;
  std::uint32_t stride = 1;
  int reads = 0, idles = 0;
  std::uint32_t Ticks() override {
    ++reads;
    return now;
  }
  void Idle(std::uint32_t) override {
    ++idles;
    now += stride;
  }
};

struct PauseCase {
  std::uint32_t start;
  std::uint32_t stride;
  std::int32_t count;
  std::uint32_t lasts;  // ms on the counter when the pause returns
};

class PumpDelayTest : public ::testing::TestWithParam<PauseCase> {};

TEST_P(PumpDelayTest, LastsMoreThanItsLengthAndIdlesBetweenReads) {
  const PauseCase& c = GetParam();
  SteppingClock clock;
  clock.now = c.start;
  clock.stride = c.stride;
  PumpDelay(c.count, clock, clock);
  EXPECT_EQ(clock.now - c.start, c.lasts);
  // Start, then one read after each idle turn.
  EXPECT_EQ(clock.reads, clock.idles + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Counter, PumpDelayTest,
    ::testing::Values(PauseCase{0, 1, 1, 11}, PauseCase{1000, 1, 200, 2001},
                      // The counter wraps past 2^32 during the pause.
                      PauseCase{0xFFFFFFF0u, 1, 5, 51},
                      PauseCase{0xFFFFFFFFu, 1, 1, 11},
                      // A coarse counter: the first read beyond the length.
                      PauseCase{0xFFFFFFF8u, 16, 1, 16},
                      PauseCase{0, 16, 10, 112},
                      // Nothing to wait for.
                      PauseCase{5, 1, 0, 1}, PauseCase{5, 1, -3, 0}));

// A counter finer than a millisecond: the length is counted in its ticks,
// so the pause ends at the first read beyond 10 ms, not 11.
TEST(PumpDelay, CountsInTheCountersOwnTicks) {
  struct MicrosecondClock : SteppingClock {
    std::uint32_t TicksPerMillisecond() const override { return 1000; }
  } clock;
  clock.now = 0xFFFFF000u;
  clock.stride = 7;
  PumpDelay(1, clock, clock);
  EXPECT_EQ(clock.now - 0xFFFFF000u, 10003u);
}

}  // namespace
}  // namespace dov
