// DOV on Linux: the update dialog on Qt.
#include <QApplication>

#include "cport/comm/standard_streams.h"
#include "cport/fw/qt_application.h"
#include "cport/fw/qt_error_box.h"
#include "form4_view.h"
#include "updater/device_console.h"
#include "updater/form4_layout.h"
#include "updater/pump_delay.h"
#include "updater/update_trace.h"
#include "updater/waiting_pause.h"

int main(int argc, char** argv) {
  if (!cport::comm::KeepStandardStreamsOpen()) return 1;
  QApplication qt(argc, argv);
  cport::fw::TQtApplication application;
  application.SetTitle(dov::form4::kApplicationTitle);

  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle(application, ticks);
  dov::TDeviceConsole tool;
  // DOV_LOG=FILE: a trace of every update.
  const auto trace = dov::TraceFromEnvironment();
  dov::TForm4View form4({ticks, idle, tool, trace.get()});
  cport::fw::ShowExceptionsInErrorBox(application, &form4);
  form4.show();
  application.Run();
  return 0;
}
