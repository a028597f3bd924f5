#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "cport/fw/fine_wait.h"
#include "cport/fw/spin_wait.h"
#include "cport/fw/wake_lead.h"

namespace cport::fw {
namespace {

using std::chrono::microseconds;

// The calling thread's sleep: its timer slack (by default 50 us, by which
// the kernel may defer a wake-up to merge it with others) is cut to the
// least, and the lead its wake-ups have taught is slept short.
class TThreadSleep {
 public:
  TThreadSleep() {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
  }

  void Until(SteadyTime deadline) {
    const SteadyTime due = deadline - lead_.Lead();
    if (due > std::chrono::steady_clock::now()) {
      std::this_thread::sleep_until(due);
      lead_.Woke(due);
    }
    SpinUntil(deadline);
  }

 private:
  TWakeLead lead_{microseconds(100), microseconds(10), microseconds(300)};
};

}  // namespace

void SleepUntil(SteadyTime deadline) {
  thread_local TThreadSleep sleep;
  sleep.Until(deadline);
}

}  // namespace cport::fw
