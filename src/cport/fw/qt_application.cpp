#include "cport/fw/qt_application.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include "cport/fw/fine_wait.h"
#include "cport/fw/sent_message.h"
#include "cport/fw/synchronize.h"

namespace cport::fw {
namespace {

// Calls and sent messages that other threads queued for the UI thread.
void RunQueued() {
  CheckSynchronize();
  ProcessSentMessages();
}

}  // namespace

TQtApplication::TQtApplication() { SetApplication(this); }

TQtApplication::~TQtApplication() { SetApplication(nullptr); }

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
    SleepUntil(deadline);
    return;
  }
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  timer.start(loop);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TQtApplication::Run() { QCoreApplication::exec(); }

void TQtApplication::OnWake() {
  QMetaObject::invokeMethod(
      &wakeReceiver_,
      [this] {
        RunQueued();
        if (Terminated()) QCoreApplication::quit();
      },
      Qt::QueuedConnection);
}

}  // namespace cport::fw
