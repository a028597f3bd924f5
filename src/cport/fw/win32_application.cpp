#include "cport/fw/win32_application.h"

#include <windows.h>

#include <string>

#include "cport/fw/fine_wait.h"
#include "cport/fw/synchronize.h"

namespace cport::fw {
namespace {

constexpr wchar_t kWindowClass[] = L"TApplication";

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam,
                                  LPARAM lParam) {
  // WM_NULL is the wake-up for calls queued by other threads. They run here,
  // where the message is dispatched, so they also run inside modal loops
  // that know nothing of the queue (an error box, moving the window, a
  // menu): a worker waiting for its call is never held up by them.
  if (message == WM_NULL) {
    try {
      CheckSynchronize();
    } catch (...) {
      Application()->HandleException(std::current_exception());
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace

TWin32Application::TWin32Application() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = HiddenWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);
  handle_ = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, windowClass.hInstance, nullptr);
  SetShowException(
      [this](const std::u16string& message, const std::u16string& caption) {
        MessageBoxW(mainWindow_, Wide(message).c_str(), Wide(caption).c_str(),
                    MB_OK | MB_ICONERROR);
      });
  SetApplication(this);
}

TWin32Application::~TWin32Application() {
  SetApplication(nullptr);
  DestroyWindow(handle_);
  UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
}

void TWin32Application::OnWake() { PostMessageW(handle_, WM_NULL, 0, 0); }

bool TWin32Application::ProcessMessage() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) {
    Terminate();
  } else if (!mainWindow_ || !IsDialogMessageW(mainWindow_, &message)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

void TWin32Application::ProcessMessages() {
  while (ProcessMessage()) {
  }
  CheckSynchronize();
}

void TWin32Application::WaitForMessages(
    std::chrono::steady_clock::time_point deadline) {
  const HANDLE callsWaiting = reinterpret_cast<HANDLE>(CallsWaitingEvent());
  WaitUntil(&callsWaiting, 1, QS_ALLINPUT, deadline);
}

bool TWin32Application::HandleMessage() {
  // Out of messages: run the queued calls; sleep until a message or a call
  // arrives only when there were none.
  if (!ProcessMessage() && !CheckSynchronize()) {
    const HANDLE callsWaiting = reinterpret_cast<HANDLE>(CallsWaitingEvent());
    MsgWaitForMultipleObjects(1, &callsWaiting, FALSE, INFINITE, QS_ALLINPUT);
  }
  return !Terminated();
}

}  // namespace cport::fw
