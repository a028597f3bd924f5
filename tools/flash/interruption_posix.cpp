#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "interruption.h"

namespace dov::flash {

namespace {

// Set for a gang's device processes: the parent's process id.
constexpr char kGangParent[] = "DOV_FLASH_GANG_PARENT";

extern "C" void OnStopSignal(int signal) { NoteInterruption(signal); }

// The kernel sends SIGHUP when the parent ends; a parent that ended before
// the request was made is seen in the process's new parent.
void StopWithGangParent() {
  const char* parent = std::getenv(kGangParent);
  if (parent == nullptr) return;
  const pid_t expected = static_cast<pid_t>(std::atol(parent));
  ::unsetenv(kGangParent);
  ::prctl(PR_SET_PDEATHSIG, SIGHUP);
  if (::getppid() != expected) NoteInterruption(SIGHUP);
}

}  // namespace

void MarkGangParent() {
  ::setenv(kGangParent, std::to_string(::getpid()).c_str(), 1);
}

void WatchForInterruption() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // Calls under way go on; the request is looked at in the next pause.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&action.sa_mask, stop);
  }
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaction(stop, &action, nullptr);
  }
  // Output whose reader went away is dropped and counted by its channel;
  // the signal must not end the update.
  ::signal(SIGPIPE, SIG_IGN);
  StopWithGangParent();
}

}  // namespace dov::flash
