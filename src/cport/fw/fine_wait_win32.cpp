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

// The time from now to `due` in the 100 ns units of the system's timers and
// delays; negative when `due` has passed.
std::int64_t HundredsUntil(SteadyTime due) {
  return std::chrono::duration_cast<
             std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
             due - Clock::now())
      .count();
}

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
    const std::int64_t hundreds = HundredsUntil(due);
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

using DelayExecutionFn = LONG(WINAPI*)(BOOLEAN, LARGE_INTEGER*);

// NtDelayExecution where the system serves it inside the calling process, on
// the host's own clock, as Wine does: there it wakes within tens of
// microseconds, while a timer or a wait with a timeout goes through the Wine
// server and comes back up to milliseconds late, which the thread would
// spin away. Null on Windows, where the high-resolution timer is the finer
// choice.
DelayExecutionFn InProcessDelay() {
  static const DelayExecutionFn delay = []() -> DelayExecutionFn {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) return nullptr;
    return reinterpret_cast<DelayExecutionFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(ntdll, "NtDelayExecution")));
  }();
  return delay;
}

// The last stretch of a wait, with nothing left to watch: sleeps in the
// process where the system offers that finely, early by the lateness such
// sleeps have shown, and spins the rest.
void FinishAt(SteadyTime deadline) {
  thread_local TWakeLead lead{microseconds(150), microseconds(20),
                              microseconds(2000)};
  if (const DelayExecutionFn delay = InProcessDelay()) {
    const SteadyTime due = deadline - lead.Lead();
    const std::int64_t hundreds = HundredsUntil(due);
    if (hundreds > 0) {
      LARGE_INTEGER relative;
      relative.QuadPart = -hundreds;
      delay(FALSE, &relative);
      lead.Woke(due);
    }
  }
  SpinUntil(deadline);
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
    FinishAt(deadline);
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
  FinishAt(deadline);
  return false;
}

void SleepUntil(SteadyTime deadline) {
  // Where the process sleeps finely by itself, a wait that watches nothing
  // needs no timer at all.
  if (InProcessDelay()) {
    FinishAt(deadline);
    return;
  }
  WaitUntil(nullptr, 0, 0, deadline);
}

}  // namespace cport::fw
