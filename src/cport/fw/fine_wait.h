// Waiting to an instant of the steady clock, to the microsecond. A pause of
// an update ends as soon as it exceeds its minimum, so neither the system's
// scheduler tick (about 15.6 ms on Windows) nor a wait that counts whole
// milliseconds may lengthen it.
#pragma once

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cport::fw {

using SteadyTime = std::chrono::steady_clock::time_point;

// How long before an instant a wait that counts whole milliseconds should
// end, leaving the rest to SleepUntil. Such a wait comes back up to a little
// over a millisecond late on Windows (and under Wine), at times more.
#ifdef _WIN32
inline constexpr std::chrono::microseconds kFineSleepSpan{4000};
#else
inline constexpr std::chrono::microseconds kFineSleepSpan{200};
#endif

// Sleeps until `deadline`.
void SleepUntil(SteadyTime deadline);

#ifdef _WIN32
// Sleeps until one of `handles` is signalled, until input that `wakeMask`
// (QS_ flags; 0 for none) selects is waiting for this thread, or until
// `deadline`, whichever comes first. The wait runs on a waitable timer (high
// resolution where the system has one) and ends on the steady clock to the
// microsecond. Returns false when the deadline ended it.
bool WaitUntil(const HANDLE* handles, DWORD count, DWORD wakeMask,
               SteadyTime deadline);
#endif

}  // namespace cport::fw
