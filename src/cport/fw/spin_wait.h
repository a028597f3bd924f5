// The last stretch of a fine wait: the thread stays on the processor until
// the steady clock reaches the instant.
#pragma once

#include <chrono>

namespace cport::fw {

inline void SpinUntil(std::chrono::steady_clock::time_point instant) {
  while (std::chrono::steady_clock::now() < instant) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

}  // namespace cport::fw
