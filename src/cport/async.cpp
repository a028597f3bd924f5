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

PAsync SpareAsync::Take() {
  PAsync async = FSpare.exchange(nullptr, std::memory_order_acquire);
  if (async == nullptr) AllocAsync(async);
  return async;
}

void SpareAsync::Give(PAsync& AsyncPtr) {
  if (AsyncPtr == nullptr) return;
  // Back to the state of a new record: an empty wait on it must return 0
  // at once and tell no link (its event is signalled already).
  TAsync& async = *AsyncPtr;
  const cport::comm::Handle event = async.Overlapped.hEvent;
  async.Overlapped = cport::comm::Overlapped{};
  async.Overlapped.hEvent = event;
  async.EndedAtOnce = false;
  async.Kind = okWrite;
  async.Data = nullptr;
  async.Size = 0;
  async.Copy.reset();
  async.TextBytes.clear();
  async.Text.clear();
  PAsync none = nullptr;
  if (!FSpare.compare_exchange_strong(none, AsyncPtr,
                                      std::memory_order_release))
    ReleaseAsync(AsyncPtr);
  AsyncPtr = nullptr;
}

void SpareAsync::Clear() {
  PAsync async = FSpare.exchange(nullptr, std::memory_order_acquire);
  ReleaseAsync(async);
}

}  // namespace cport
