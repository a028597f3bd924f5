// Helpers for tests that play the UI thread (the test's main thread) against
// worker threads. Every wait has a bound.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "cport/comm/comm_api.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"

namespace fwtest {

using namespace std::chrono_literals;

inline constexpr auto kBound = 10s;

// Runs queued calls and sent messages on the UI thread until `done` holds;
// false when `bound` passes first.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = kBound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    const cport::comm::Handle work[] = {cport::fw::CallsWaitingEvent(),
                                        cport::fw::SentMessagesWaitingEvent()};
    cport::comm::Api().WaitForMultipleObjects(2, work, false, 10);
    cport::fw::CheckSynchronize();
    cport::fw::ProcessSentMessages();
  }
  return true;
}

// Waits, without running anything on the UI thread, until `done` holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = kBound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A worker thread that is joined once it has finished; one that is still
// stuck when the test ends (the test has failed) is left behind.
class Worker {
 public:
  explicit Worker(std::function<void()> body)
      : thread_([this, body = std::move(body)] {
          body();
          done_ = true;
        }) {}
  ~Worker() {
    if (done_) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  bool Done() const { return done_; }
  // Pumps the UI thread until the worker has finished.
  bool Finish() {
    return PumpUntil([this] { return Done(); });
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Counts the wake-ups of the UI thread while installed.
class WakeCounter {
 public:
  WakeCounter() {
    cport::fw::SetWakeMainThread([this] { ++count_; });
  }
  ~WakeCounter() { cport::fw::SetWakeMainThread(nullptr); }
  int Count() const { return count_; }
  bool WaitFor(int count) {
    return WaitUntil([&] { return count_ >= count; });
  }

 private:
  std::atomic<int> count_{0};
};

}  // namespace fwtest
