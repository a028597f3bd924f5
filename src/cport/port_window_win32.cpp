// The hidden window on Windows: a real top-level tool window of zero size,
// never shown, whose window procedure calls the owner's method.
#include <windows.h>
// The component's own DefWindowProc, not the Win32 A/W macro.
#undef DefWindowProc

#include <memory>

#include "cport/fw/exception.h"
#include "cport/fw/os_error.h"
#include "cport/port_window.h"

namespace cport {
namespace {

constexpr wchar_t kClassName[] = L"TComPortEventWindow";

HWND AsWindow(std::uintptr_t window) { return reinterpret_cast<HWND>(window); }

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam,
                            LPARAM lParam) {
  const auto* stored = reinterpret_cast<const TWndMethod*>(
      ::GetWindowLongPtrW(window, GWLP_USERDATA));
  // Messages of window creation arrive before the method is attached.
  if (stored == nullptr) return ::DefWindowProcW(window, msg, wParam, lParam);
  // A copy: the handler may close the port, which destroys the window.
  const TWndMethod method = *stored;
  TMessage message{msg, wParam, lParam, 0};
  method(message);
  return message.Result;
}

// Registers the window class once per process.
void RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    if (::RegisterClassW(&wc) == 0 &&
        ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      throw cport::fw::Exception(u"Window class registration error: " +
                                 cport::fw::SysErrorMessage(::GetLastError()));
    }
    return true;
  }();
  (void)registered;
}

HWND CreateHiddenWindow(HWND parent) {
  return ::CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0,
                           0, parent, nullptr, ::GetModuleHandleW(nullptr),
                           nullptr);
}

}  // namespace

std::uintptr_t AllocateWindow(TWndMethod Method) {
  RegisterWindowClass();
  HWND window = CreateHiddenWindow(nullptr);
  // Without a desktop (a session with no display) no top-level window can
  // be made; a message-only window carries the sent messages just the same.
  if (window == nullptr) window = CreateHiddenWindow(HWND_MESSAGE);
  if (window == nullptr) {
    throw cport::fw::Exception(u"Window creation error: " +
                               cport::fw::SysErrorMessage(::GetLastError()));
  }
  auto method = std::make_unique<TWndMethod>(std::move(Method));
  ::SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(method.release()));
  return reinterpret_cast<std::uintptr_t>(window);
}

void DeallocateWindow(std::uintptr_t Window) {
  if (Window == 0) return;
  HWND window = AsWindow(Window);
  std::unique_ptr<TWndMethod> method(reinterpret_cast<TWndMethod*>(
      ::GetWindowLongPtrW(window, GWLP_USERDATA)));
  ::DestroyWindow(window);
}

void SendWindowMessage(std::uintptr_t Window, std::uint32_t Msg,
                       std::uintptr_t WParam, std::intptr_t LParam) {
  ::SendMessageW(AsWindow(Window), Msg, WParam, LParam);
}

bool InSendMessage() { return ::InSendMessage() != FALSE; }

void ReplyMessage(std::intptr_t Result) { ::ReplyMessage(Result); }

std::intptr_t DefWindowProc(std::uintptr_t Window, const TMessage& Message) {
  return ::DefWindowProcW(AsWindow(Window), Message.Msg, Message.WParam,
                          Message.LParam);
}

}  // namespace cport
