#include "interruption.h"

#include <atomic>
#include <csignal>

namespace dov::flash {
namespace {

// Written from a signal handler: lock-free, nothing else.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

EInterrupted::EInterrupted(int signal)
    : std::runtime_error("interrupted by " + SignalName(signal)),
      signal_(signal) {}

void NoteInterruption(int signal) {
  int none = 0;
  g_signal.compare_exchange_strong(none, signal);
}

int InterruptionSignal() { return g_signal.load(); }

void StopIfInterrupted() {
  if (const int signal = InterruptionSignal()) throw EInterrupted(signal);
}

std::string SignalName(int signal) {
  switch (signal) {
    case 1:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
  }
  return "signal " + std::to_string(signal);
}

}  // namespace dov::flash
