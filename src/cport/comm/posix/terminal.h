// The terminal driver calls the serial backend makes on a descriptor, kept in
// one place because the kernel's arbitrary-rate interface (termios2) cannot
// share a translation unit with the C library's <termios.h>. Each returns 0
// or an errno value.
#pragma once

#include <cstdint>

#include "cport/comm/comm_api.h"

namespace cport::comm::posix::terminal {

// Puts the line into raw binary mode (no echo, no line editing, no output
// processing, errors marked in the input stream) and keeps its speed and
// framing. Used once, right after open.
int MakeRaw(int fd);

// Checks a device control block without touching any device: 0 when the
// block can be carried out here, otherwise EINVAL for values that make no
// sense and kErrorNotSupported for what the platform cannot do.
int CheckDcb(const Dcb& dcb);

// Sets speed, framing, parity checking and flow control from the block
// (which CheckDcb accepted). DTR and RTS levels are set by the caller.
int ApplyDcb(int fd, const Dcb& dcb);

// Discards what the driver holds: received and not read, and/or written and
// not yet sent.
int Flush(int fd, bool input, bool output);

// Suspends or resumes output, as if XOFF or XON had been received.
int SetOutputFlow(int fd, bool on);

// True for the near end of a pseudo-terminal. Its driver hands each write
// straight to the far end's input, so it never holds output of its own:
// its output queue is always empty.
bool IsPseudoTerminal(int fd);

}  // namespace cport::comm::posix::terminal
