#include "updater/output_channel.h"

namespace dov {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long one write waits for room before the writer looks at its
// deadline again.
constexpr auto kWriteTurn = 100ms;

// Close's bound when the owner did not close the channel itself.
constexpr auto kDestroyBound = 500ms;

}  // namespace

TOutputChannel::TOutputChannel(int fd, bool owned)
    : device_(fd, owned), writer_([this] { Writer(); }) {}

TOutputChannel::~TOutputChannel() { Close(kDestroyBound); }

void TOutputChannel::Put(std::string_view text) {
  if (text.empty()) return;
  {
    std::lock_guard lock(mutex_);
    if (closing_) return Drop(text.size(), "written after the end");
    if (queued_ + text.size() > kQueueLimit) {
      return Drop(text.size(), "the reader does not keep up");
    }
    queue_.emplace_back(text);
    queued_ += text.size();
  }
  wake_.notify_one();
}

void TOutputChannel::Close(std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  if (!closing_) {
    closing_ = true;
    deadline_ = Clock::now() + bound;
    wake_.notify_one();
  }
  if (!writer_.joinable()) return;
  const bool drained =
      drained_.wait_until(lock, deadline_, [this] { return queue_.empty(); });
  lock.unlock();
  if (!drained) device_.Cancel();
  writer_.join();
}

std::size_t TOutputChannel::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::string TOutputChannel::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TOutputChannel::Drop(std::size_t bytes, const std::string& why) {
  dropped_ += bytes;
  if (failure_.empty()) failure_ = why;
}

void TOutputChannel::Writer() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (closing_ && !queue_.empty() && Clock::now() >= deadline_) {
      Drop(queued_, "not taken before the program ended");
      queue_.clear();
      queued_ = 0;
    }
    if (queue_.empty()) break;
    // A reference to the front stays valid while others append.
    std::string& text = queue_.front();
    lock.unlock();
    std::string error;
    const long written = device_.Write(text, kWriteTurn, error);
    lock.lock();
    const std::size_t done =
        written < 0 ? text.size() : static_cast<std::size_t>(written);
    if (written < 0) Drop(done, error);
    queued_ -= done;
    if (done == text.size()) {
      queue_.pop_front();
    } else {
      text.erase(0, done);
    }
  }
  drained_.notify_all();
}

std::string DroppedNote(const TOutputChannel& channel, std::string_view what) {
  const std::size_t dropped = channel.Dropped();
  if (dropped == 0) return {};
  return std::to_string(dropped) + " bytes of " + std::string(what) +
         " dropped (" + channel.Failure() + ")";
}

}  // namespace dov
