// The width of the terminal the progress is drawn on, so that a bar never
// wraps: a wrapped line is not redrawn in place, and the rows pile up.
#pragma once

namespace dov::flash {

// Columns of the terminal on the standard error stream; 80 when it does
// not say.
int TerminalColumns();

// Counts the terminal's changes of size (SIGWINCH) from now on; nothing
// where the system does not announce them (the width is then asked again
// at every redraw).
void WatchTerminalWidth();

// How many changes of size have been announced so far.
unsigned TerminalResizes();

}  // namespace dov::flash
