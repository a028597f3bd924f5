#include "cport/fw/headless_application.h"

#include <chrono>
#include <utility>

#include "cport/comm/comm_api.h"
#include "cport/fw/fine_wait.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"

namespace cport::fw {

HeadlessApplication::HeadlessApplication() { SetApplication(this); }

HeadlessApplication::~HeadlessApplication() {
  if (Application() == this) SetApplication(nullptr);
}

void HeadlessApplication::Post(std::function<void()> message) {
  {
    std::lock_guard guard(mutex_);
    posted_.push_back(std::move(message));
  }
  OnWake();
}

void HeadlessApplication::OnWake() {
  {
    std::lock_guard guard(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void HeadlessApplication::ProcessMessages() {
  while (ProcessPending()) {
  }
}

bool HeadlessApplication::HandleMessage() {
  if (Terminated()) return false;
  if (!ProcessPending()) {
    WaitForWork(cport::comm::kInfinite);
    ProcessPending();
  }
  return !Terminated();
}

bool HeadlessApplication::WaitForWork(std::uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  auto work = [this] { return woken_ || !posted_.empty(); };
  if (milliseconds == cport::comm::kInfinite) {
    wake_.wait(lock, work);
    return true;
  }
  return wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), work);
}

void HeadlessApplication::WaitForMessages(
    std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  auto work = [this] { return woken_ || !posted_.empty(); };
  // The condition variable's own timeout is only as fine as the system's
  // timer where it waits in whole milliseconds (Windows); the last of the
  // pause then goes to the fine sleep.
  if (wake_.wait_until(lock, deadline - kFineSleepSpan, work)) return;
  lock.unlock();
  SleepUntil(deadline);
}

bool HeadlessApplication::ProcessPending() {
  {
    std::lock_guard guard(mutex_);
    woken_ = false;
  }
  const bool ranCalls = CheckSynchronize();
  const bool handledSent = ProcessSentMessages();
  const bool ranPosted = RunPosted();
  return ranCalls || handledSent || ranPosted;
}

bool HeadlessApplication::RunPosted() {
  std::deque<std::function<void()>> taken;
  {
    std::lock_guard guard(mutex_);
    taken.swap(posted_);
  }
  for (auto& message : taken) {
    try {
      message();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  return !taken.empty();
}

}  // namespace cport::fw
