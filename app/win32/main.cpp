// DOV on Windows: the update dialog as a native window.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include "form4_window.h"
#include "updater/device_console.h"
#include "updater/form4_layout.h"
#include "updater/pump_delay.h"
#include "updater/tick_counter.h"
#include "updater/update_trace.h"
#include "win32_application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const INITCOMMONCONTROLSEX controls{
      sizeof(INITCOMMONCONTROLSEX),
      ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  dov::TWin32Application application;
  application.SetTitle(dov::form4::kApplicationTitle);

  dov::TSystemTickCounter ticks;
  dov::TProcessMessagesIdle idle(application);
  dov::TDeviceConsole tool;
  // DOV_LOG=FILE: a trace of every update.
  const auto trace = dov::TraceFromEnvironment();
  dov::TForm4Window form4({ticks, idle, tool, trace.get()});
  application.SetMainWindow(form4.Handle());
  form4.Show();
  application.Run();
  return 0;
}
