// Descriptors 0, 1 and 2 belong to the standard streams. A program started
// with one of them closed (by cron, a service manager, `2>&-`) would hand
// that number to the next file it opens, a serial port say, and its own
// messages would then go to the device. Every program calls this first,
// before it opens anything.
#pragma once

namespace cport::comm {

// Opens the null device on each of descriptors 0, 1 and 2 that is closed.
// False when one could not be opened: the program must not go on.
bool KeepStandardStreamsOpen();

}  // namespace cport::comm
