#include <thread>

#include "framework/fine_wait.h"

namespace fw {

// clock_nanosleep on the monotonic clock: fine already.
void SleepUntil(SteadyTime deadline) {
  std::this_thread::sleep_until(deadline);
}

}  // namespace fw
