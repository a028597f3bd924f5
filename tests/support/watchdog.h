// Ends the test program with a message when the scenario it guards has not
// finished within `bound`: a scenario that can only hang the UI thread (the
// one that would report the failure) fails instead of blocking the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class Watchdog {
 public:
  explicit Watchdog(std::string scenario,
                    std::chrono::milliseconds bound = std::chrono::seconds(60))
      : thread_([this, scenario = std::move(scenario), bound] {
          std::unique_lock lock(lock_);
          if (done_.wait_for(lock, bound, [this] { return finished_; })) return;
          std::fprintf(stderr, "Hung: %s\n", scenario.c_str());
          std::fflush(stderr);
          std::_Exit(EXIT_FAILURE);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard guard(lock_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex lock_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;  // last: it uses the members above
};

}  // namespace testsupport
