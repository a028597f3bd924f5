// The application on Win32: a hidden main window receives the WM_NULL that
// wakes the UI thread for marshalled calls and runs them (in any message
// loop, modal ones too); the message loop also runs queued calls whenever it
// runs out of messages; exceptions are shown in a modal error box.
#pragma once

#include "cport/fw/application.h"

/// The system's window handle type (HWND), declared without <windows.h> so
/// that this header brings none of its macros.
struct HWND__;

namespace cport::fw {

/// The application on Win32 (Windows build): notifications run on the
/// thread that made it, in its message loop or in any modal loop (a message
/// box, a dialog), through a hidden window.
class TWin32Application : public TApplication {
 public:
  TWin32Application();
  ~TWin32Application() override;

  std::u16string ClassName() const override { return u"TWin32Application"; }

  void ProcessMessages() override;
  bool HandleMessage() override;
  /// MsgWaitForMultipleObjectsEx on the queue, the calls-waiting event and a
  /// fine timer set to the deadline.
  void WaitForMessages(std::chrono::steady_clock::time_point deadline) override;

  /// The dialog: keyboard navigation goes through it, and the error box is
  /// modal to it.
  void SetMainWindow(HWND__* window) { mainWindow_ = window; }
  /// The hidden window that receives the wake-ups.
  HWND__* Handle() const { return handle_; }

 protected:
  void OnWake() override;

 private:
  /// Handles one message if one is pending; false when there was none.
  bool ProcessMessage();

  HWND__* handle_ = nullptr;
  HWND__* mainWindow_ = nullptr;
};

}  // namespace cport::fw
