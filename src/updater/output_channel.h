// Text output that never holds up its writer: a terminal that is not read,
// a pipe nobody empties, a reader that went away (EPIPE), a full disk
// (ENOSPC) or a broken terminal (EIO) must not slow or stop a paced update.
// Put only queues; a thread of the channel's own writes, and what cannot be
// written is dropped and counted, so the caller can say so.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace dov {

// The system side of a channel: one descriptor, written without blocking
// where the system allows it (POSIX), or cancelled when it blocks too long
// (Windows).
class TOutputDevice {
 public:
  // Writes to descriptor `fd`; closes it at the end when `owned`.
  TOutputDevice(int fd, bool owned);
  ~TOutputDevice();
  TOutputDevice(const TOutputDevice&) = delete;
  TOutputDevice& operator=(const TOutputDevice&) = delete;

  // Writes what it can of `text`, waiting at most `wait` for room: the
  // bytes taken (0 when there was no room), or -1 with the system's text in
  // `error`.
  long Write(std::string_view text, std::chrono::milliseconds wait,
             std::string& error);
  // Ends a Write that blocks on another thread (where writes can block).
  void Cancel();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

class TOutputChannel {
 public:
  // What queues beyond this is dropped: a reader this far behind is not
  // reading.
  static constexpr std::size_t kQueueLimit = 1 << 20;

  // Writes to descriptor `fd` (a standard stream, or a file when `owned`,
  // which the channel then closes).
  explicit TOutputChannel(int fd, bool owned = false);
  // Close with a short bound.
  ~TOutputChannel();
  TOutputChannel(const TOutputChannel&) = delete;
  TOutputChannel& operator=(const TOutputChannel&) = delete;

  // Queues `text`; never waits for the reader.
  void Put(std::string_view text);
  // Waits at most `bound` for the queue to be written, then drops the rest
  // and ends the channel; later Puts are dropped. Repeated calls return at
  // once.
  void Close(std::chrono::milliseconds bound);

  // The bytes dropped so far.
  std::size_t Dropped() const;
  // Why output was dropped ("No space left on device"), or "" when none
  // was.
  std::string Failure() const;

 private:
  void Writer();
  void Drop(std::size_t bytes, const std::string& why);

  TOutputDevice device_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  std::size_t queued_ = 0;
  std::size_t dropped_ = 0;
  std::string failure_;
  bool closing_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::thread writer_;  // last: starts once the rest is made
};

// "N bytes of <what> dropped (reason)", or "" when the channel lost nothing.
std::string DroppedNote(const TOutputChannel& channel, std::string_view what);

}  // namespace dov
