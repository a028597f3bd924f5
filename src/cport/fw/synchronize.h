// Running calls on the UI thread. A worker thread's call is queued in one
// process-wide queue (guarded by one lock), the application is woken and the
// process-wide calls-waiting event is set; the UI thread runs the queued
// calls in CheckSynchronize, and the worker waits for its call to be done.
#pragma once

#include <functional>
#include <thread>

#include "cport/comm/comm_api.h"

namespace cport::fw {

// Makes the calling thread the UI thread if none has been chosen yet
// (application construction calls it; tests may too).
void InitMainThread();
std::thread::id MainThreadId();
// True on the UI thread.
bool IsMainThread();

// Runs `call` on the UI thread and returns once it has run. On the UI thread
// it runs at once. An exception raised by the call is raised again in the
// calling thread. Raises EThread when no UI thread has been chosen.
void Synchronize(std::function<void()> call);

// UI thread only: takes the whole queue at once and runs its calls in order,
// outside the lock. Returns whether a call ran. Raises EThread on another
// thread. Called again from inside one of those calls (a handler that
// processes messages or waits for a thread), it first runs the calls still
// left of the batch taken before.
bool CheckSynchronize();

// The manual-reset event that is set while calls are queued or taken and not
// yet run (the UI thread waits on it together with a thread handle).
cport::comm::Handle CallsWaitingEvent();

// The application's wake-up, called (under the queue lock) after a call or a
// sent message has been queued; an empty function clears it.
void SetWakeMainThread(std::function<void()> wake);
// Calls the wake-up hook when one is set.
void WakeMainThread();

}  // namespace cport::fw
