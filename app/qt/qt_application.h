// The application on Qt: messages are Qt's events, the UI thread is woken for
// marshalled calls by a queued invocation, and exceptions are shown in a
// modal error box.
#pragma once

#include <QWidget>

#include "framework/application.h"

namespace dov {

class TQtApplication : public cport::fw::TApplication {
 public:
  // Needs a QApplication; becomes the process's application.
  TQtApplication();
  ~TQtApplication() override;

  std::u16string ClassName() const override { return u"TQtApplication"; }

  void ProcessMessages() override;
  bool HandleMessage() override;
  // Qt's event loop, woken by a timer just before the deadline (or by an
  // event), then a fine sleep for the last fraction.
  void WaitForMessages(std::chrono::steady_clock::time_point deadline) override;
  // Qt's event loop, until the last window closes or Terminate.
  void Run() override;

  // The window the error box is modal to.
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }

 protected:
  void OnWake() override;

 private:
  QWidget* mainWindow_ = nullptr;
  // The receiver of the queued wake-ups: a wake-up still queued when the
  // application goes is dropped with it, not run on a destroyed object.
  QObject wakeReceiver_;
};

}  // namespace dov
