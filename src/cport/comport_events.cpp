// Start and stop of the event thread. No thread is started yet: a port
// opened with any Events set runs without notifications of line events.
#include "cport/comport.h"
#include "cport/comthread.h"

namespace cport {

void TCustomComPort::StartEventThread() { FThreadCreated = false; }

void TCustomComPort::StopEventThread() {
  FEventThread.reset();
  FThreadCreated = false;
}

}  // namespace cport
