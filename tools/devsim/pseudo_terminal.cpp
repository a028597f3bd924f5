#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace devsim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PseudoTerminal::PseudoTerminal()
    : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (!master_.valid()) ThrowErrno("posix_openpt");
  if (::grantpt(master_.get()) != 0) ThrowErrno("grantpt");
  if (::unlockpt(master_.get()) != 0) ThrowErrno("unlockpt");
  std::array<char, 128> name{};
  if (::ptsname_r(master_.get(), name.data(), name.size()) != 0) {
    ThrowErrno("ptsname_r");
  }
  slave_path_ = name.data();
  slave_ = UniqueFd(
      ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!slave_.valid()) ThrowErrno("open " + slave_path_);
  termios mode{};
  if (::tcgetattr(slave_.get(), &mode) != 0) ThrowErrno("tcgetattr");
  ::cfmakeraw(&mode);
  ::cfsetispeed(&mode, B115200);
  ::cfsetospeed(&mode, B115200);
  if (::tcsetattr(slave_.get(), TCSANOW, &mode) != 0) ThrowErrno("tcsetattr");
}

std::size_t PseudoTerminal::Read(std::span<std::uint8_t> buffer) {
  const ssize_t n = ::read(master_.get(), buffer.data(), buffer.size());
  if (n >= 0) return static_cast<std::size_t>(n);
  // EIO: no slave is open (cannot happen while ours is held, but harmless).
  if (errno == EAGAIN || errno == EINTR || errno == EIO) return 0;
  ThrowErrno("read " + slave_path_);
}

std::size_t PseudoTerminal::Send(std::span<const std::uint8_t> bytes) {
  const ssize_t n = ::write(master_.get(), bytes.data(), bytes.size());
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::string PseudoTerminal::LineSettings() const {
  termios mode{};
  if (!slave_.valid() || ::tcgetattr(slave_.get(), &mode) != 0) return "?";
  std::string speed = "other speed";
  if (::cfgetospeed(&mode) == B115200 && ::cfgetispeed(&mode) == B115200) {
    speed = "115200";
  }
  const tcflag_t size = mode.c_cflag & CSIZE;
  const char bits = size == CS5   ? '5'
                    : size == CS6 ? '6'
                    : size == CS7 ? '7'
                                  : '8';
  const char parity = !(mode.c_cflag & PARENB)  ? 'N'
                      : (mode.c_cflag & PARODD) ? 'O'
                                                : 'E';
  const char stop = (mode.c_cflag & CSTOPB) ? '2' : '1';
  std::string flow;
  if (mode.c_cflag & CRTSCTS) flow += " rts/cts";
  if (mode.c_iflag & (IXON | IXOFF)) flow += " xon/xoff";
  return speed + ' ' + bits + parity + stop + ", " +
         (flow.empty() ? "no flow control" : "flow control:" + flow);
}

std::size_t PseudoTerminal::WaitingForHost() const {
  // The host and the simulator's own slave descriptor share the slave's
  // input queue, so its count is what the host has left unread.
  int waiting = 0;
  if (!slave_.valid() || ::ioctl(slave_.get(), FIONREAD, &waiting) != 0) {
    return 0;
  }
  return static_cast<std::size_t>(waiting);
}

void PseudoTerminal::FillHostSide() {
  // The line moves bytes on towards the master in the background, which
  // frees room again: fill until a short wait frees none. Bounded, so a
  // line that keeps draining cannot hold the simulator here.
  const std::array<std::uint8_t, 256> filler{};
  for (int round = 0; round < 100; ++round) {
    std::size_t written = 0;
    ssize_t n = 0;
    while ((n = ::write(slave_.get(), filler.data(), filler.size())) > 0) {
      written += static_cast<std::size_t>(n);
    }
    if (written == 0 && round > 0) return;
    pollfd writable{slave_.get(), POLLOUT, 0};
    ::poll(&writable, 1, 5);
  }
}

void PseudoTerminal::Close() {
  slave_.Reset();
  master_.Reset();
}

}  // namespace devsim
