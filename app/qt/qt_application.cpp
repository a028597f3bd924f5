#include "qt_application.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>

#include "framework/fine_wait.h"
#include "framework/sent_message.h"
#include "framework/synchronize.h"

namespace dov {
namespace {

// Calls and sent messages that other threads queued for the UI thread.
void RunQueued() {
  cport::fw::CheckSynchronize();
  cport::fw::ProcessSentMessages();
}

}  // namespace

TQtApplication::TQtApplication() {
  SetShowException([this](const std::u16string& message,
                          const std::u16string& caption) {
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(caption),
                    QString::fromStdU16String(message), QMessageBox::Ok,
                    mainWindow_);
    box.exec();
  });
  cport::fw::SetApplication(this);
}

TQtApplication::~TQtApplication() { cport::fw::SetApplication(nullptr); }

void TQtApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  RunQueued();
}

bool TQtApplication::HandleMessage() {
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  RunQueued();
  return !Terminated();
}

void TQtApplication::WaitForMessages(
    std::chrono::steady_clock::time_point deadline) {
  using std::chrono::milliseconds;
  // Qt's timers count whole milliseconds and may fire up to one late, so the
  // timer ends the wait a millisecond early; the rest is a fine sleep.
  const auto loop = std::chrono::floor<milliseconds>(
                        deadline - std::chrono::steady_clock::now()) -
                    milliseconds(1);
  if (loop <= milliseconds(0)) {
    cport::fw::SleepUntil(deadline);
    return;
  }
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  timer.start(loop);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TQtApplication::Run() { QApplication::exec(); }

void TQtApplication::OnWake() {
  QMetaObject::invokeMethod(
      &wakeReceiver_,
      [this] {
        RunQueued();
        if (Terminated()) QCoreApplication::quit();
      },
      Qt::QueuedConnection);
}

}  // namespace dov
