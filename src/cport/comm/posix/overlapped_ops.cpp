#include "cport/comm/posix/overlapped_ops.h"

#include <algorithm>

namespace cport::comm::posix {
namespace {
constexpr std::uint32_t kMax = 0xFFFFFFFFu;
}  // namespace

ReadPolicy ReadPolicy::From(const CommTimeouts& t, std::uint32_t count) {
  ReadPolicy policy;
  if (t.ReadIntervalTimeout == kMax) {
    if (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
      policy.immediate = true;
      return policy;
    }
    if (t.ReadTotalTimeoutMultiplier == kMax &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMax) {
      policy.returnOnAny = true;
      policy.totalMs = t.ReadTotalTimeoutConstant;
      return policy;
    }
  } else {
    policy.intervalMs = t.ReadIntervalTimeout;
  }
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    policy.totalMs = std::uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                     t.ReadTotalTimeoutConstant;
  }
  return policy;
}

void PendingRead::Activate(Clock::time_point now) {
  active = true;
  if (policy.totalMs) deadline = now + TimeoutMs(*policy.totalMs);
}

std::optional<Clock::time_point> PendingRead::NextDeadline() const {
  std::optional<Clock::time_point> next = deadline;
  if (policy.intervalMs != 0 && got > 0) {
    Clock::time_point interval =
        lastByte + std::chrono::milliseconds(policy.intervalMs);
    next = next ? std::min(*next, interval) : interval;
  }
  return next;
}

}  // namespace cport::comm::posix
