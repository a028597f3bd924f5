// The hidden window without a window system: a message is a sent message of
// the application's message loop, handled on the UI thread.
#include <memory>

#include "cport/fw/sent_message.h"
#include "cport/port_window.h"

namespace cport {
namespace {

struct TWindow {
  TWndMethod Method;
};

}  // namespace

std::uintptr_t AllocateWindow(TWndMethod Method) {
  auto window = std::make_unique<TWindow>(TWindow{std::move(Method)});
  return reinterpret_cast<std::uintptr_t>(window.release());
}

void DeallocateWindow(std::uintptr_t Window) {
  delete reinterpret_cast<TWindow*>(Window);
}

void SendWindowMessage(std::uintptr_t Window, std::uint32_t Msg,
                       std::uintptr_t WParam, std::intptr_t LParam) {
  cport::fw::SendMessageToMainThread([Window, Msg, WParam, LParam] {
    // A copy: the handler may close the port, which destroys the window.
    const TWndMethod method = reinterpret_cast<TWindow*>(Window)->Method;
    TMessage message{Msg, WParam, LParam, 0};
    method(message);
  });
}

bool InSendMessage() { return cport::fw::InSendMessage(); }

void ReplyMessage(std::intptr_t /*Result*/) { cport::fw::ReplyMessage(); }

std::intptr_t DefWindowProc(std::uintptr_t /*Window*/,
                            const TMessage& /*Message*/) {
  return 0;
}

}  // namespace cport
