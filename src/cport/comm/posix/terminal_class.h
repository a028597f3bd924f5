// Whether a character device is a terminal, told from its numbers alone:
// opening a device to ask it has side effects on some (a modem line, a tape,
// a watchdog), so nothing is opened until this says yes.
#pragma once

#include <sys/types.h>

#include <istream>

namespace cport::comm::posix {

// True for a device of the kernel's tty class: /sys/dev/char/MAJ:MIN names
// the tty subsystem, or, for pseudo-terminal slaves (which sysfs does not
// list), /proc/tty/drivers gives a port driver for the numbers. The
// controlling terminal, the console and the pseudo-terminal multiplexer are
// aliases or factories, not ports: false.
bool IsTerminalDevice(dev_t device);

// Whether the kernel's list of tty drivers (as /proc/tty/drivers gives it)
// names a port driver, not an alias or a pseudo-terminal's far end, for the
// numbers.
bool DriversListPort(std::istream& drivers, unsigned major, unsigned minor);

}  // namespace cport::comm::posix
