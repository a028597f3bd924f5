#include "cport/async.h"

namespace cport {

void AllocAsync(PAsync& AsyncPtr) {
  AsyncPtr = new TAsync();
  // Manual reset, initially signalled: a record nothing was issued with
  // reports completion at once.
  AsyncPtr->Overlapped.hEvent = cport::comm::Api().CreateEventW(true, true);
}

void ReleaseAsync(PAsync& AsyncPtr) {
  if (AsyncPtr == nullptr) return;
  if (AsyncPtr->Overlapped.hEvent != 0)
    cport::comm::Api().CloseHandle(AsyncPtr->Overlapped.hEvent);
  delete AsyncPtr;
  AsyncPtr = nullptr;
}

}  // namespace cport
