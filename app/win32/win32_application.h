// The application on Win32: a hidden main window receives the WM_NULL that
// wakes the UI thread for marshalled calls and runs them (in any message
// loop, modal ones too); the message loop also runs queued calls whenever it
// runs out of messages; exceptions are shown in a modal error box.
#pragma once

#include <windows.h>

#include "framework/application.h"

namespace dov {

class TWin32Application : public cport::fw::TApplication {
 public:
  TWin32Application();
  ~TWin32Application() override;

  std::u16string ClassName() const override { return u"TWin32Application"; }

  void ProcessMessages() override;
  bool HandleMessage() override;
  // MsgWaitForMultipleObjectsEx on the queue, the calls-waiting event and a
  // fine timer set to the deadline.
  void WaitForMessages(std::chrono::steady_clock::time_point deadline) override;

  // The dialog: keyboard navigation goes through it, and the error box is
  // modal to it.
  void SetMainWindow(HWND window) { mainWindow_ = window; }
  HWND Handle() const { return handle_; }

 protected:
  void OnWake() override;

 private:
  // Handles one message if one is pending; false when there was none.
  bool ProcessMessage();

  HWND handle_ = nullptr;
  HWND mainWindow_ = nullptr;
};

}  // namespace dov
