// Opening the file a trace goes to. A trace file is named by the user, often
// in a shared folder, so the open refuses what it must not write: a symbolic
// link as the last component (someone else's file behind a predictable
// name), a serial port or other terminal (the trace would go into the
// device's stream), a block device, and the files the run itself reads (the
// image). A FIFO without a reader is refused instead of waited for.
#pragma once

#include <span>
#include <string>

namespace dov {

// The descriptor of `path` opened for writing and emptied, or -1 with the
// reason in `error` ("cannot write PATH: ..."). `avoid` lists files the
// trace must not be (the same file under any name).
int OpenTraceFile(const std::string& path, std::span<const std::string> avoid,
                  std::string& error);

}  // namespace dov
