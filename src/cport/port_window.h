// A hidden window through which a worker thread hands messages to the thread
// that owns the window, one at a time and in the order sent. The sender
// waits until the handler replies: by returning, or early with ReplyMessage.
// On Windows it is a real window; elsewhere the messages travel through the
// application's message loop with the same outcomes.
#pragma once

#include <cstdint>
#include <functional>

namespace cport {

// One window message as the handler sees it; the handler sets Result.
struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

using TWndMethod = std::function<void(TMessage& Message)>;

// The message that carries one reported event (WM_USER + 1); WParam holds
// the event's driver mask bit.
inline constexpr std::uint32_t kPortEventMessage = 0x0401;

// Makes an invisible window of zero size whose messages `Method` handles.
// Raises cport::fw::Exception when the system cannot make one.
std::uintptr_t AllocateWindow(TWndMethod Method);
// Destroys a window made by AllocateWindow; 0 is ignored.
void DeallocateWindow(std::uintptr_t Window);

// Sends a message from another thread and returns once it has been replied
// to.
void SendWindowMessage(std::uintptr_t Window, std::uint32_t Msg,
                       std::uintptr_t WParam, std::intptr_t LParam);
// True while the handler runs a message sent from another thread.
bool InSendMessage();
// Releases the sender of the message being handled.
void ReplyMessage(std::intptr_t Result);
// The default handling of any message.
std::intptr_t DefWindowProc(std::uintptr_t Window, const TMessage& Message);

}  // namespace cport
