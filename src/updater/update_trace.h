// The trace of an update, for people chasing a device that will not take
// its program: every step, every write with its byte count, every pause
// with its minimum and its actual length, the bytes drained from the device
// and errors with the system's text, each stamped with the monotonic clock.
//
// A note costs the paced thread a clock reading and a queue entry; a thread
// of the trace's own formats and hands the lines to output channels, which
// never wait for their readers, so a slow, full or unread file or terminal
// never lengthens a pause.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "updater/output_channel.h"

namespace cport {
class TCustomComPort;
}

namespace dov {

class TUpdateTrace {
 public:
  using Clock = std::chrono::steady_clock;

  TUpdateTrace();
  // Finish with a short bound.
  ~TUpdateTrace();
  TUpdateTrace(const TUpdateTrace&) = delete;
  TUpdateTrace& operator=(const TUpdateTrace&) = delete;

  // Also writes to `out`, which outlives the trace.
  void AddOutput(TOutputChannel& out);
  // Opens `path` for writing (emptied); false when it cannot be opened or
  // must not be written (see OpenTraceFile), with the reason in `error`.
  bool AddFile(const std::string& path, std::string& error,
               std::span<const std::string> avoid = {});

  // Ends the trace: what is queued is handed out, and the files it owns are
  // written within `bound` and closed. Returns "trace incomplete: <why>"
  // when a file did not get the whole trace, "" otherwise. Later notes are
  // dropped; repeated calls return the same.
  std::string Finish(std::chrono::milliseconds bound);

  void Note(std::string text);
  // A pause of more than count x 10 ms that lasted `actualMs` on the tick
  // counter.
  void Pause(std::int32_t count, double actualMs);
  void Write(std::int32_t written, std::int32_t requested);
  void Drained(std::int32_t count);
  void PortOpened(const cport::TCustomComPort& port);
  // The exception's message, and the system's text for its error number.
  void Error(std::exception_ptr error);

 private:
  struct Entry {
    Clock::time_point at;
    std::string text;
  };
  void Writer();

  const Clock::time_point start_ = Clock::now();
  std::vector<TOutputChannel*> outputs_;
  std::vector<std::unique_ptr<TOutputChannel>> files_;
  std::string incomplete_;  // Finish's answer, once finished
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> queue_;
  bool done_ = false;
  std::thread writer_;  // last: starts once the rest is made
};

// The trace the DOV_LOG environment variable asks for (a file name), or
// null when it is unset. A file that cannot be opened is reported on the
// standard error stream and no trace is made.
std::unique_ptr<TUpdateTrace> TraceFromEnvironment();

}  // namespace dov
