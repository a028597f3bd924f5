#include <windows.h>

#include <csignal>

#include "interruption.h"

namespace dov::flash {

namespace {

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  NoteInterruption(SIGINT);
  return TRUE;
}

}  // namespace

void WatchForInterruption() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

// The device processes share the console: Ctrl+C reaches each of them.
void MarkGangParent() {}

}  // namespace dov::flash
