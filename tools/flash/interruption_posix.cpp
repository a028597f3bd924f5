#include <signal.h>

#include "interruption.h"

namespace dov::flash {

namespace {

extern "C" void OnStopSignal(int signal) { NoteInterruption(signal); }

}  // namespace

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
}

}  // namespace dov::flash
