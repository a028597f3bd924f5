#include <algorithm>
#include <array>
#include <cstdint>

#include "framework/fine_wait.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace fw {
namespace {

using Clock = std::chrono::steady_clock;

// The calling thread's waitable timer: a high-resolution one where the
// system offers it, a plain one otherwise.
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

 private:
  HANDLE handle_;
};

HANDLE ThreadTimer() {
  thread_local TThreadTimer timer;
  return timer.Handle();
}

// The last fraction: the timer may come back a little before the steady
// clock reaches the deadline.
void SpinUntil(SteadyTime deadline) {
  while (Clock::now() < deadline) YieldProcessor();
}

}  // namespace

bool WaitUntil(const HANDLE* handles, DWORD count, DWORD wakeMask,
               SteadyTime deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return false;
  // Due time in 100 ns units; negative means relative.
  const auto hundreds =
      std::chrono::duration_cast<
          std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(left)
          .count();
  const auto millis =
      std::chrono::ceil<std::chrono::milliseconds>(left).count();
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> all{};
  count = std::min<DWORD>(count, MAXIMUM_WAIT_OBJECTS - 1);
  std::copy(handles, handles + count, all.begin());
  DWORD waited = count;
  const HANDLE timer = ThreadTimer();
  LARGE_INTEGER due;
  due.QuadPart = -std::max<std::int64_t>(hundreds, 1);
  if (timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
    all[waited++] = timer;
  }
  // The remaining time is the wait's own bound as well, in case the timer
  // could not be set.
  const DWORD woken = MsgWaitForMultipleObjectsEx(
      waited, all.data(), static_cast<DWORD>(millis) + 1, wakeMask,
      wakeMask != 0 ? MWMO_INPUTAVAILABLE : 0);
  if (woken < WAIT_OBJECT_0 + count ||
      (wakeMask != 0 && woken == WAIT_OBJECT_0 + waited)) {
    if (waited > count) CancelWaitableTimer(timer);
    return true;
  }
  SpinUntil(deadline);
  return false;
}

void SleepUntil(SteadyTime deadline) { WaitUntil(nullptr, 0, 0, deadline); }

}  // namespace fw
