#include "updater/tick_counter.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace dov {

#ifdef _WIN32

std::uint32_t TSystemTickCounter::Ticks() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so the product cannot overflow.
  const auto f = static_cast<std::uint64_t>(frequency.QuadPart);
  const auto c = static_cast<std::uint64_t>(counter.QuadPart);
  const std::uint64_t ms = c / f * 1000 + c % f * 1000 / f;
  return static_cast<std::uint32_t>(ms);
}

#else

std::uint32_t TSystemTickCounter::Ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
  return static_cast<std::uint32_t>(ms);
}

#endif

}  // namespace dov
