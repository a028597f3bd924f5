// Plain termios and poll(): the limit the others are measured against.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_subject.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// Keeps the processor busy for `d`, as a layer's own work per call would.
void Busy(std::chrono::nanoseconds d) {
  if (d.count() == 0) return;
  const Clock::time_point end = Clock::now() + d;
  while (Clock::now() < end) {
  }
}

class RawSubject final : public Subject {
 public:
  explicit RawSubject(std::chrono::nanoseconds extra) : extra_(extra) {}
  std::string Name() const override {
    return extra_.count() == 0
               ? "raw termios"
               : "raw termios +" + std::to_string(extra_.count()) + " ns";
  }

  void Open(const PortNames& names) override {
    fd_ = ::open(names.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("open " + names.path);
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  void Close() override { ::close(fd_); }

  void WriteAll(std::size_t piece, std::size_t total) override {
    std::vector<char> data(piece, 'r');
    for (std::size_t done = 0; done < total; done += piece) {
      Busy(extra_);
      std::size_t sent = 0;
      while (sent < piece) {
        const ssize_t n = ::write(fd_, data.data() + sent, piece - sent);
        if (n > 0) {
          sent += static_cast<std::size_t>(n);
        } else {
          pollfd p{fd_, POLLOUT, 0};
          ::poll(&p, 1, -1);
        }
      }
    }
  }

  void Listen(int rounds, const std::function<void()>& received) override {
    char buffer[256];
    for (int i = 0; i < rounds;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) throw std::runtime_error("raw: no data");
      if (::read(fd_, buffer, sizeof buffer) > 0) {
        received();
        ++i;
      }
    }
  }

  void Idle(double seconds) override {
    pollfd p{fd_, POLLIN | POLLPRI, 0};
    ::poll(&p, 1, static_cast<int>(seconds * 1000));
  }

 private:
  const std::chrono::nanoseconds extra_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<Subject> MakeRawSubject(std::chrono::nanoseconds extra) {
  return std::make_unique<RawSubject>(extra);
}

}  // namespace bench
