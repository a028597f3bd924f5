#include <windows.h>

#include "terminal_width.h"

namespace dov::flash {

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    return 80;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// The console sends no notice; TerminalColumns is asked at every redraw.
void WatchTerminalWidth() {}

unsigned TerminalResizes() { return 0; }

}  // namespace dov::flash
