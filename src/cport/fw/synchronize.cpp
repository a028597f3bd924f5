#include "cport/fw/synchronize.h"

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

#include "cport/fw/exception.h"
#include "cport/fw/handle.h"

namespace cport::fw {
namespace {

struct SyncRequest {
  std::function<void()> call;
  std::exception_ptr error;
  cport::comm::Handle done = 0;
};

struct SyncState {
  std::mutex lock;  // guards queue and wake
  std::vector<SyncRequest*> queue;
  // Calls taken from the queue and not yet run. UI thread only. A call that
  // processes messages, or waits for a thread, runs CheckSynchronize again,
  // which carries on with these before the newly queued ones: a taken call
  // never waits for the one that took it (whose caller may be waiting for
  // that very call). The calls-waiting event stays set while any is left,
  // so such a wait sees them.
  std::deque<SyncRequest*> taken;
  std::function<void()> wake;
  std::atomic<std::thread::id> mainThread{};
};

SyncState& State() {
  static SyncState state;
  return state;
}

}  // namespace

void InitMainThread() {
  std::thread::id none{};
  State().mainThread.compare_exchange_strong(none, std::this_thread::get_id());
}

std::thread::id MainThreadId() { return State().mainThread.load(); }

bool IsMainThread() { return MainThreadId() == std::this_thread::get_id(); }

cport::comm::Handle CallsWaitingEvent() {
  static const cport::comm::Handle event = CreateManualResetEvent();
  return event;
}

void Synchronize(std::function<void()> call) {
  if (MainThreadId() == std::thread::id{})
    throw EThread(u"Synchronize called before the UI thread was chosen");
  if (IsMainThread()) {
    call();
    return;
  }
  // Each thread has one event for the end of its calls: it waits for one
  // call at a time.
  thread_local const OwnedHandle tDone(CreateManualResetEvent());
  cport::comm::Api().ResetEvent(tDone.Get());
  SyncRequest request{std::move(call), nullptr, tDone.Get()};
  bool first = false;
  {
    SyncState& state = State();
    std::lock_guard guard(state.lock);
    first = state.queue.empty();
    state.queue.push_back(&request);
    if (state.wake) state.wake();
  }
  // Set after the queue's lock is released, so that the UI thread it wakes
  // does not run into that lock. A batch taken meanwhile may leave the event
  // set with nothing queued: the next check finds nothing and resets it.
  // Only a call that finds the queue empty sets it: the event is reset only
  // with the queue empty, so for a call queued behind others it has been set
  // by the first of them (or is about to be) and stays set until the UI
  // thread takes them all.
  if (first) cport::comm::Api().SetEvent(CallsWaitingEvent());
  cport::comm::Api().WaitForSingleObject(request.done, cport::comm::kInfinite);
  if (request.error) std::rethrow_exception(request.error);
}

bool CheckSynchronize() {
  if (!IsMainThread())
    throw EThread(
        u"CheckSynchronize called from a thread that is not the UI "
        u"thread");
  SyncState& state = State();
  {
    std::lock_guard guard(state.lock);
    state.taken.insert(state.taken.end(), state.queue.begin(),
                       state.queue.end());
    state.queue.clear();
    if (state.taken.empty()) cport::comm::Api().ResetEvent(CallsWaitingEvent());
  }
  bool ran = false;
  while (!state.taken.empty()) {
    SyncRequest* request = state.taken.front();
    state.taken.pop_front();
    {
      // Reset under the lock: a call queued meanwhile sets it again.
      std::lock_guard guard(state.lock);
      if (state.taken.empty() && state.queue.empty())
        cport::comm::Api().ResetEvent(CallsWaitingEvent());
    }
    ran = true;
    try {
      request->call();
    } catch (...) {
      request->error = std::current_exception();
    }
    // The request lives on the waiting thread's stack: not touched after.
    cport::comm::Api().SetEvent(request->done);
  }
  return ran;
}

void SetWakeMainThread(std::function<void()> wake) {
  SyncState& state = State();
  std::lock_guard guard(state.lock);
  state.wake = std::move(wake);
}

void WakeMainThread() {
  SyncState& state = State();
  std::lock_guard guard(state.lock);
  if (state.wake) state.wake();
}

}  // namespace cport::fw
