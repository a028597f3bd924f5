// An application without a toolkit: messages are calls posted to the UI
// thread, queued calls and sent messages are run by ProcessMessages, and
// WaitForWork blocks (without spinning) until there is something to do.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "cport/fw/application.h"

namespace cport::fw {

/// The application of a program without a toolkit (a service, a
/// command-line tool): its main thread runs Run (or HandleMessage in a loop
/// of its own), and notifications run there. Terminate, from any thread,
/// ends Run.
class HeadlessApplication : public TApplication {
 public:
  HeadlessApplication();
  ~HeadlessApplication() override;

  std::u16string ClassName() const override { return u"HeadlessApplication"; }

  /// Posts `message` to run on the UI thread at the next message processing;
  /// does not wait. Any thread.
  void Post(std::function<void()> message);

  void ProcessMessages() override;
  bool HandleMessage() override;

  /// Blocks until a call, a sent message or a posted message is waiting, or
  /// `milliseconds` have passed. Returns whether there is work.
  bool WaitForWork(std::uint32_t milliseconds);
  void WaitForMessages(std::chrono::steady_clock::time_point deadline) override;

 protected:
  void OnWake() override;

 private:
  /// One pass over queued calls, sent and posted messages; whether any ran.
  bool ProcessPending();
  bool RunPosted();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::deque<std::function<void()>> posted_;
};

}  // namespace cport::fw
