// A thread object: the body is the virtual Execute. The operating-system
// thread is made suspended through the comm API; it runs once Start (or, for
// a thread not created suspended, AfterConstruction) has resumed it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "cport/comm/comm_api.h"
#include "cport/fw/object.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"

namespace cport::fw {

class TThread : public TObject {
 public:
  // Creates the operating-system thread suspended; raises EThread
  // "Thread creation error: <system text>" when that fails. A thread created
  // with createSuspended false starts in AfterConstruction (MakeThread calls
  // it), since Execute must not run before the derived object is complete.
  explicit TThread(bool createSuspended);
  // If the thread has not finished: Terminate, then WaitFor. A class whose
  // Execute uses its own members must end the thread in its own destructor.
  // A thread that was never started ends without running Execute.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  std::u16string ClassName() const override { return u"TThread"; }

  // Starts the thread when it was not created suspended.
  void AfterConstruction();
  // Resumes the thread (ResumeThread).
  void Start();
  void Resume() { Start(); }
  // Sets the Terminated mark; Execute decides whether to look at it.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Waits until the thread has ended and returns its exit code. On the UI
  // thread the wait keeps running queued calls and sent messages.
  std::uint32_t WaitFor();
  cport::comm::Handle Handle() const { return handle_; }
  bool Finished() const { return finished_; }
  // Raises EThread "Thread Error: <system text> (<code>)" on failure.
  void SetPriority(int priority);
  // The exception that left Execute, if any, once the thread has finished.
  std::exception_ptr FatalException() const;
  std::uint32_t ReturnValue() const { return returnValue_; }

  // Gives `thread` to its own thread, which destroys the object as it ends
  // (or at once, when it has ended already). For an owner that must let go
  // of a thread from inside that thread's own work (its body, or a call the
  // thread waits on), where waiting for it would never end. The thread must
  // end by itself; WaitForFreedThreads waits for it.
  static void FreeOnTerminate(std::unique_ptr<TThread> thread);
  // True on the thread whose body this object runs.
  bool IsCurrentThread() const;

  // Runs `call` on the UI thread (see cport::fw::Synchronize).
  static void Synchronize(std::function<void()> call) {
    cport::fw::Synchronize(std::move(call));
  }

 protected:
  virtual void Execute() = 0;
  void SetReturnValue(std::uint32_t value) { returnValue_ = value; }

 private:
  std::uint32_t Body();
  // Called by the body as it ends and by FreeOnTerminate: the second of
  // the two destroys the object.
  void HandOver();

  cport::comm::Handle handle_ = 0;
  bool createSuspended_;
  bool started_ = false;
  std::atomic<bool> skipExecute_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::uint32_t> returnValue_{0};
  std::atomic<int> handOvers_{0};
  std::exception_ptr fatalException_;
};

// Constructs a thread object and starts it unless it was created suspended.
template <class T, class... Args>
std::unique_ptr<T> MakeThread(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  thread->AfterConstruction();
  return thread;
}

// Waits for `thread` (a thread handle) to end as TThread::WaitFor does: on
// the UI thread running queued calls and sent messages meanwhile, elsewhere
// a plain wait without a time limit.
void WaitForThreadHandle(cport::comm::Handle thread);

// Waits up to `milliseconds` until every thread given to
// TThread::FreeOnTerminate has ended and been destroyed; whether all have.
// It runs no queued calls meanwhile.
bool WaitForFreedThreads(std::uint32_t milliseconds);

}  // namespace cport::fw
