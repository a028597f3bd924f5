// Stopping an update early on request: Ctrl+C, `kill`, or the terminal
// going away. The request is only noted when it arrives; the update stops
// at its next pause, where nothing is half-written, and unwinds from there,
// so the port is closed by its owner (which releases the device for the
// next opener and discards what is queued) and temporary files go with
// their owners.
#pragma once

#include <stdexcept>
#include <string>

namespace dov::flash {

// Thrown at the pause that notices the request.
class EInterrupted : public std::runtime_error {
 public:
  explicit EInterrupted(int signal);
  int Signal() const { return signal_; }

 private:
  int signal_;
};

// Notes a request; what the system's handler calls. Safe in a signal
// handler; only the first request is kept.
void NoteInterruption(int signal);

// Notes SIGINT, SIGTERM and SIGHUP (Ctrl+C and Ctrl+Break on Windows, as
// SIGINT) as requests to stop, from now until the program ends. In a
// device process of a gang (see MarkGangParent), the end of its parent is
// such a request too, noted as SIGHUP (Linux).
void WatchForInterruption();

// Makes the device processes this process starts from now on stop when it
// ends, killed outright or not (Linux).
void MarkGangParent();

// The signal of the first request, or 0 while there is none.
int InterruptionSignal();

// Throws EInterrupted once a request has arrived.
void StopIfInterrupted();

// "SIGINT", "SIGTERM", "SIGHUP".
std::string SignalName(int signal);

}  // namespace dov::flash
