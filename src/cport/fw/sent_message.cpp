#include "cport/fw/sent_message.h"

#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "cport/fw/application.h"
#include "cport/fw/exception.h"
#include "cport/fw/handle.h"
#include "cport/fw/synchronize.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace cport::fw {
namespace {

// Shared by the sender and the UI thread, so either may finish first.
struct SentMessage {
  std::function<void()> handler;
  cport::comm::Handle done = 0;
  std::atomic<bool> replied{false};
  std::exception_ptr error;  // set before the reply, read after it

  // Releases the sender once; whether this call did.
  bool Reply() {
    if (replied.exchange(true)) return false;
    cport::comm::Api().SetEvent(done);
    return true;
  }
};

struct SentState {
  std::mutex lock;  // guards queue and pump
  std::deque<std::shared_ptr<SentMessage>> queue;
  std::function<void()> pump;
};

SentState& State() {
  static SentState state;
  return state;
}

// The message sent from another thread that the UI thread is handling.
thread_local SentMessage* tCurrent = nullptr;

void HandleSentMessage(const std::shared_ptr<SentMessage>& message) {
  SentMessage* const outer = tCurrent;
  tCurrent = message.get();
  std::exception_ptr error;
  try {
    message->handler();
  } catch (...) {
    error = std::current_exception();
  }
  tCurrent = outer;
  if (!error) {
    message->Reply();
    return;
  }
  if (TApplication* app = Application()) {
    message->Reply();
    app->HandleException(error);
  } else if (!message->replied) {
    message->error = error;
    message->Reply();
  }
}

void DefaultPump() {
#ifdef _WIN32
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
#else
  ProcessSentMessages();
#endif
}

}  // namespace

cport::comm::Handle SentMessagesWaitingEvent() {
  static const cport::comm::Handle event = CreateManualResetEvent();
  return event;
}

void SendMessageToMainThread(std::function<void()> handler) {
  if (MainThreadId() == std::thread::id{})
    throw EThread(u"A message was sent before the UI thread was chosen");
  if (IsMainThread()) {
    // Handled directly, as a message the thread sends to itself.
    SentMessage* const outer = tCurrent;
    tCurrent = nullptr;
    struct Restore {
      SentMessage* outer;
      ~Restore() { tCurrent = outer; }
    } restore{outer};
    handler();
    return;
  }
  auto message = std::make_shared<SentMessage>();
  message->handler = std::move(handler);
  const OwnedHandle done(CreateManualResetEvent());
  message->done = done.Get();
  {
    SentState& state = State();
    std::lock_guard guard(state.lock);
    state.queue.push_back(message);
    cport::comm::Api().SetEvent(SentMessagesWaitingEvent());
  }
  WakeMainThread();
  cport::comm::Api().WaitForSingleObject(done.Get(), cport::comm::kInfinite);
  if (message->error) std::rethrow_exception(message->error);
}

bool ReplyMessage() { return tCurrent != nullptr && tCurrent->Reply(); }

bool InSendMessage() { return tCurrent != nullptr; }

bool ProcessSentMessages() {
  if (!IsMainThread())
    throw EThread(u"Sent messages are handled on the UI thread only");
  SentState& state = State();
  bool handled = false;
  for (;;) {
    std::shared_ptr<SentMessage> message;
    {
      std::lock_guard guard(state.lock);
      if (!state.queue.empty()) {
        message = std::move(state.queue.front());
        state.queue.pop_front();
      }
      if (state.queue.empty())
        cport::comm::Api().ResetEvent(SentMessagesWaitingEvent());
    }
    if (!message) return handled;
    HandleSentMessage(message);
    handled = true;
  }
}

void SetSentMessagePump(std::function<void()> pump) {
  SentState& state = State();
  std::lock_guard guard(state.lock);
  state.pump = std::move(pump);
}

void PumpSentMessages() {
  std::function<void()> pump;
  {
    SentState& state = State();
    std::lock_guard guard(state.lock);
    pump = state.pump;
  }
  if (pump) {
    pump();
  } else {
    DefaultPump();
  }
}

}  // namespace cport::fw
