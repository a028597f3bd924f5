// The application on Qt: messages are Qt's events, and the UI thread is woken
// for marshalled calls by a queued invocation. Qt Core is enough; a program
// with Qt Widgets shows exceptions in an error box (qt_error_box.h).
#pragma once

#include <QObject>

#include "cport/fw/application.h"

namespace cport::fw {

/// The application in Qt's event loop (target CPort::Qt): notifications run
/// on the thread of the QCoreApplication, between Qt's events. Run is
/// QCoreApplication::exec.
class TQtApplication : public TApplication {
 public:
  /// Needs a QCoreApplication (a QApplication in a program with widgets);
  /// becomes the process's application.
  TQtApplication();
  ~TQtApplication() override;

  std::u16string ClassName() const override { return u"TQtApplication"; }

  void ProcessMessages() override;
  bool HandleMessage() override;
  /// Qt's event loop, woken by a timer just before the deadline (or by an
  /// event), then a fine sleep for the last fraction.
  void WaitForMessages(std::chrono::steady_clock::time_point deadline) override;
  /// Qt's event loop, until the last window closes or Terminate.
  void Run() override;

 protected:
  void OnWake() override;

 private:
  /// The receiver of the queued wake-ups: a wake-up still queued when the
  /// application goes is dropped with it, not run on a destroyed object.
  QObject wakeReceiver_;
};

}  // namespace cport::fw
