// DOV on Windows: the update dialog as a native window.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <timeapi.h>

#include <cstdio>
#include <system_error>

#include "cport/fw/win32_application.h"
#include "form4_window.h"
#include "updater/device_console.h"
#include "updater/form4_layout.h"
#include "updater/pump_delay.h"
#include "updater/update_trace.h"
#include "updater/waiting_pause.h"

namespace {

int Run() {
  const INITCOMMONCONTROLSEX controls{
      sizeof(INITCOMMONCONTROLSEX),
      ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // A plain waitable timer, where the system has no high-resolution one,
  // then counts single milliseconds rather than the scheduler's 15.6 ms.
  timeBeginPeriod(1);
  cport::fw::TWin32Application application;
  application.SetTitle(dov::form4::kApplicationTitle);

  dov::TSteadyTickCounter ticks;
  dov::TWaitingIdle idle(application, ticks);
  dov::TDeviceConsole tool;
  // DOV_LOG=FILE: a trace of every update.
  const auto trace = dov::TraceFromEnvironment();
  dov::TForm4Window form4({ticks, idle, tool, trace.get()});
  application.SetMainWindow(form4.Handle());
  form4.Show();
  application.Run();
  timeEndPeriod(1);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return Run();
  } catch (const std::system_error& error) {
    // The dialog could not be made, so there is no window to tell it in:
    // it goes to the standard error of whoever started the program.
    std::fprintf(stderr, "DOV: %s\n", error.what());
    return 1;
  }
}
