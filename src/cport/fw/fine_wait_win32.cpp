#include <algorithm>
#include <array>
#include <cstdint>

#include "cport/fw/fine_wait.h"
#include "cport/fw/spin_wait.h"
#include "cport/fw/wake_lead.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace cport::fw {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// The calling thread's waitable timer: a high-resolution one where the
// system offers it, a plain one otherwise. It is set early by the lead its
// lateness has taught.
class TThreadTimer {
 public:
  TThreadTimer()
      : handle_(CreateWaitableTimerExW(nullptr, nullptr,
                                       CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                       TIMER_ALL_ACCESS)) {
    if (!handle_) handle_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  }
  ~TThreadTimer() {
    if (handle_) CloseHandle(handle_);
  }
  TThreadTimer(const TThreadTimer&) = delete;
  TThreadTimer& operator=(const TThreadTimer&) = delete;

  HANDLE Handle() const { return handle_; }
  // When the timer should be due for the thread to be awake at `deadline`.
  SteadyTime DueFor(SteadyTime deadline) const {
    return deadline - lead_.Lead();
  }

  // Sets the timer due at `due`; false when there is no timer.
  bool Set(SteadyTime due) {
    if (!handle_) return false;
    // Due time in 100 ns units; negative means relative.
    const auto hundreds =
        std::chrono::duration_cast<
            std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
            due - Clock::now())
            .count();
    LARGE_INTEGER relative;
    relative.QuadPart = -std::max<std::int64_t>(hundreds, 1);
    due_ = due;
    return SetWaitableTimer(handle_, &relative, 0, nullptr, nullptr, FALSE) !=
           FALSE;
  }

  void Cancel() { CancelWaitableTimer(handle_); }
  void Fired() { lead_.Woke(due_); }

 private:
  HANDLE handle_;
  TWakeLead lead_{microseconds(1000), microseconds(50), microseconds(4000)};
  SteadyTime due_{};
};

TThreadTimer& ThreadTimer() {
  thread_local TThreadTimer timer;
  return timer;
}

}  // namespace

bool WaitUntil(const HANDLE* handles, DWORD count, DWORD wakeMask,
               SteadyTime deadline) {
  TThreadTimer& timer = ThreadTimer();
  const SteadyTime due = timer.DueFor(deadline);
  const auto left = due - Clock::now();
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> all{};
  count = std::min<DWORD>(count, MAXIMUM_WAIT_OBJECTS - 1);
  std::copy(handles, handles + count, all.begin());
  DWORD waited = count;
  // Too close to the deadline for the timer: only a look at what is pending,
  // then the spin.
  DWORD bound = 0;
  if (left > Clock::duration::zero()) {
    if (timer.Set(due)) all[waited++] = timer.Handle();
    // The remaining time is the wait's own bound as well, in case the timer
    // could not be set.
    bound = static_cast<DWORD>(
                std::chrono::ceil<std::chrono::milliseconds>(left).count()) +
            1;
  }
  if (waited == 0 && bound == 0 && wakeMask == 0) {
    SpinUntil(deadline);
    return false;
  }
  const DWORD woken =
      MsgWaitForMultipleObjectsEx(waited, all.data(), bound, wakeMask,
                                  wakeMask != 0 ? MWMO_INPUTAVAILABLE : 0);
  if (woken < WAIT_OBJECT_0 + count ||
      (wakeMask != 0 && woken == WAIT_OBJECT_0 + waited)) {
    if (waited > count) timer.Cancel();
    return true;
  }
  if (woken == WAIT_OBJECT_0 + count && waited > count) timer.Fired();
  SpinUntil(deadline);
  return false;
}

void SleepUntil(SteadyTime deadline) { WaitUntil(nullptr, 0, 0, deadline); }

}  // namespace cport::fw
