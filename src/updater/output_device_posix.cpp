#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cport/comm/posix/unique_fd.h"
#include "updater/output_channel.h"

namespace dov {

using cport::comm::posix::UniqueFd;

struct TOutputDevice::TState {
  int fd = -1;
  UniqueFd own;  // the descriptor written, when it is the device's own
  bool socket = false;
  bool nonBlocking = false;
};

namespace {

// A pipe, FIFO or terminal is opened once more, as a file description of
// the channel's own that does not block; the description the program was
// given is shared with others (the shell's terminal) and left as it is. A
// regular file never waits for a reader, and a reopen would lose its
// offset or its append mode.
UniqueFd OpenWithoutBlocking(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return {};
  if (!S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode)) return {};
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return UniqueFd(
      ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

}  // namespace

TOutputDevice::TOutputDevice(int fd, bool owned)
    : state_(std::make_unique<TState>()) {
  state_->fd = fd;
  if (owned) state_->own = UniqueFd(fd);
  struct stat status {};
  state_->socket = ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  state_->nonBlocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
  if (state_->socket || state_->nonBlocking) return;
  if (UniqueFd reopened = OpenWithoutBlocking(fd); reopened.valid()) {
    state_->fd = reopened.get();
    state_->own = std::move(reopened);
    state_->nonBlocking = true;
    if (owned) ::close(fd);
  }
}

TOutputDevice::~TOutputDevice() = default;

long TOutputDevice::Write(std::string_view text, std::chrono::milliseconds wait,
                          std::string& error) {
  // A reader that went away must cost output, not the program: SIGPIPE is
  // held back on the writing thread, and the write fails with EPIPE.
  thread_local const bool pipeSignalHeld = [] {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    return ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
  }();
  (void)pipeSignalHeld;
  pollfd room{state_->fd, POLLOUT, 0};
  // A descriptor that may block is written only when it has room, and no
  // more than a pipe takes whole.
  if (!state_->nonBlocking && !state_->socket) {
    const int ready = ::poll(&room, 1, static_cast<int>(wait.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
    if (text.size() > PIPE_BUF) text = text.substr(0, PIPE_BUF);
  }
  for (;;) {
    const ssize_t written = state_->socket
                                ? ::send(state_->fd, text.data(), text.size(),
                                         MSG_DONTWAIT | MSG_NOSIGNAL)
                                : ::write(state_->fd, text.data(), text.size());
    if (written >= 0) return static_cast<long>(written);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = std::strerror(errno);
      return -1;
    }
    ::poll(&room, 1, static_cast<int>(wait.count()));
    return 0;
  }
}

// Writes here never block for longer than their wait.
void TOutputDevice::Cancel() {}

}  // namespace dov
