// The Win32 program, started as a user starts it: it shows its dialog with
// its caption, client size and start state, and closes cleanly.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/desktop_report.h"
#include "support/window_text.h"

namespace {

// The program beside the test build, as a Windows path (drive Z: is the
// root of the file system under Wine).
std::wstring ProgramPath() {
  std::string unix = DOV_EXE;
  std::wstring path = L"Z:";
  for (char c : unix) path.push_back(c == '/' ? L'\\' : wchar_t(c));
  return path;
}

constexpr wchar_t kCaption[] = L"Orvik Ruz ZID OROVIV V1.0.1";

struct TSearch {
  DWORD process;
  HWND found = nullptr;
};

// Only the started program's own dialog: the dialog test may show one with
// the same class and caption at the same moment.
BOOL CALLBACK NoteDialog(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<TSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search.process || !IsWindowVisible(window) ||
      testsupport::WindowClass(window) != L"TForm4" ||
      testsupport::WindowText(window) != kCaption)
    return TRUE;
  search.found = window;
  return FALSE;
}

// Polls for the program's dialog, at most a minute, and stops early when
// the program has ended without showing it.
HWND WaitForDialog(const PROCESS_INFORMATION& program) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  TSearch search{program.dwProcessId};
  while (std::chrono::steady_clock::now() < deadline) {
    EnumWindows(NoteDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found ||
        WaitForSingleObject(program.hProcess, 100) == WAIT_OBJECT_0)
      break;
  }
  return search.found;
}

TEST(Win32Program, ShowsItsDialogAndClosesCleanly) {
  if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
    GTEST_SKIP() << "No X display (DISPLAY is not set): the dialog cannot be "
                    "shown. Run the tests through scripts/with-display.";
  }
  std::wstring command = L"\"" + ProgramPath() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                             0, nullptr, nullptr, &startup, &process))
      << "cannot start " << std::string(DOV_EXE);

  HWND dialog = WaitForDialog(process);
  if (dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right - client.left, 268);
    EXPECT_EQ(client.bottom - client.top, 111);
    EXPECT_NE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) &
                  (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX),
              0);

    HWND bar = FindWindowExW(dialog, nullptr, L"msctls_progress32", nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(IsWindowVisible(bar));
    HWND button = FindWindowExW(dialog, nullptr, L"Button", nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(testsupport::WindowText(button), L"Update");
    EXPECT_NE(FindWindowExW(dialog, nullptr, L"Static", L"COM 3\r "), nullptr);
    HWND arrows = FindWindowExW(dialog, nullptr, L"msctls_updown32", nullptr);
    ASSERT_NE(arrows, nullptr);
    EXPECT_EQ(SendMessageW(arrows, UDM_GETPOS32, 0, 0), 3);

    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else {
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &exitCode);
    ADD_FAILURE() << "the dialog did not appear; the program "
                  << (exitCode == STILL_ACTIVE
                          ? std::string("is still running")
                          : "ended with " + std::to_string(exitCode))
                  << testsupport::DesktopReport();
  }

  const bool ended =
      WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  EXPECT_TRUE(ended) << "the program did not end after its dialog closed";
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace
