// Saves a picture of the update dialog as it first appears:
//   dov-qt-snapshot OUTPUT.png
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "cport/fw/qt_application.h"
#include "form4_view.h"
#include "updater/device_console.h"
#include "updater/form4_layout.h"
#include "updater/pump_delay.h"
#include "updater/waiting_pause.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dov-qt-snapshot OUTPUT.png\n");
    return 2;
  }
  QApplication qt(argc, argv);
  cport::fw::TQtApplication application;
  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle(application, ticks);
  dov::TDeviceConsole tool;
  dov::TForm4View form4({ticks, idle, tool});
  form4.show();
  application.ProcessMessages();
  if (!form4.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "dov-qt-snapshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
