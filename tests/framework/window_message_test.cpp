// Windows: a message that another thread sends through the window system is
// handled while the UI thread waits for a thread to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "cport/fw/thread.h"

namespace {

constexpr UINT kProbeMessage = WM_USER + 1;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kProbeMessage) {
    *reinterpret_cast<std::thread::id*>(l) = std::this_thread::get_id();
    return 42;
  }
  return ::DefWindowProcW(window, message, w, l);
}

class Sender : public cport::fw::TThread {
 public:
  Sender(HWND window, std::thread::id* handledOn)
      : TThread(true), window_(window), handledOn_(handledOn) {}

 protected:
  void Execute() override {
    const LRESULT r = ::SendMessageW(window_, kProbeMessage, 0,
                                     reinterpret_cast<LPARAM>(handledOn_));
    SetReturnValue(static_cast<std::uint32_t>(r));
  }

 private:
  HWND window_;
  std::thread::id* handledOn_;
};

TEST(WindowMessageTest, WaitForHandlesMessagesSentThroughTheWindowSystem) {
  cport::fw::InitMainThread();
  WNDCLASSW wc{};
  wc.lpfnWndProc = ProbeProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"FrameworkProbeWindow";
  ASSERT_NE(::RegisterClassW(&wc), 0);
  HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  std::thread::id handledOn;
  {
    Sender sender(window, &handledOn);
    sender.Start();
    EXPECT_EQ(sender.WaitFor(), 42u);
  }
  EXPECT_EQ(handledOn, std::this_thread::get_id());
  ::DestroyWindow(window);
  ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
