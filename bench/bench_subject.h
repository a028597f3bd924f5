// One way of driving a serial port, measured by serial_bench on a
// pseudo-terminal pair whose far end the harness plays.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cport/types.h"

namespace bench {

// The near end of the pseudo-terminal under test, under the two names the
// subjects use.
struct PortNames {
  std::string path;        // /dev/pts/N
  std::u16string comName;  // \\.\COMn, mapped to `path`
};

class Subject {
 public:
  virtual ~Subject() = default;
  virtual std::string Name() const = 0;
  // Opens the port at 115200 8N1 without flow control.
  virtual void Open(const PortNames& names) = 0;
  virtual void Close() = 0;
  // Writes `total` bytes in pieces of `piece`, each write finished before the
  // next is issued.
  virtual void WriteAll(std::size_t piece, std::size_t total) = 0;
  // Runs the port's receive notifications on this thread until `rounds` of
  // them came; each reads what arrived and calls `received`.
  virtual void Listen(int rounds, const std::function<void()>& received) = 0;
  // Holds the port open, watching every line event, for `seconds`.
  virtual void Idle(double seconds) = 0;
  // The transmit-empty notifications handled so far; 0 where the subject
  // has none.
  virtual long Notifications() const { return 0; }
};

// `extra`: processor time spent before each write, to show how the
// throughput answers to a layer's own cost per call.
std::unique_ptr<Subject> MakeRawSubject(
    std::chrono::nanoseconds extra = std::chrono::nanoseconds::zero());
std::unique_ptr<Subject> MakeBackendSubject();
std::unique_ptr<Subject> MakeComponentSubject(cport::TSyncMethod sync);
std::unique_ptr<Subject> MakeQtSubject();
std::unique_ptr<Subject> MakeAsioSubject();

}  // namespace bench
