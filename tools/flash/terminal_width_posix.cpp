#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "terminal_width.h"

namespace dov::flash {
namespace {

// Written from a signal handler: lock-free, nothing else.
std::atomic<unsigned> g_resizes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

extern "C" void OnResize(int) { g_resizes.fetch_add(1); }

}  // namespace

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return 80;
  }
  return size.ws_col;
}

void WatchTerminalWidth() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGWINCH, &action, nullptr);
}

unsigned TerminalResizes() { return g_resizes.load(); }

}  // namespace dov::flash
