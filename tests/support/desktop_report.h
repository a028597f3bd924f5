// What the desktop held when a window a test needs is missing, for its
// failure message: the error the failing call left, the X display the
// program was given, the running programs (the desktop's own, explorer.exe
// under Wine, among them) and the top-level windows. Under Wine a program
// whose X display cannot be reached makes no window at all: every call that
// would make one fails, and a window of another program is never found.
#pragma once

#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <cstdlib>
#include <cwctype>
#include <string>

#include "cport/fw/handle.h"
#include "support/window_text.h"

namespace testsupport {

// "error N (the system's text)".
inline std::string ErrorText(DWORD error) {
  std::string shown = "error " + std::to_string(error);
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (text) {
    std::wstring message(text, length);
    LocalFree(text);
    while (!message.empty() && std::iswspace(message.back()))
      message.pop_back();
    shown += " (" + Utf8(message) + ")";
  }
  return shown;
}

// The running programs with their ids; the one that owns the desktop
// window is marked.
inline std::string RunningPrograms(DWORD desktopOwner) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return "cannot be listed: " + ErrorText(GetLastError());
  const cport::fw::OwnedHandle owned(
      reinterpret_cast<cport::comm::Handle>(snapshot));
  std::string list;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    list += "\n  " + Utf8(entry.szExeFile) + " " +
            std::to_string(entry.th32ProcessID);
    if (entry.th32ProcessID == desktopOwner) list += " (owns the desktop)";
  }
  return list;
}

inline BOOL CALLBACK NoteWindow(HWND window, LPARAM report) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  *reinterpret_cast<std::string*>(report) +=
      "\n  " + Utf8(WindowClass(window)) + " \"" + Utf8(WindowText(window)) +
      "\" of " + std::to_string(process) +
      (IsWindowVisible(window) ? ", visible" : ", hidden");
  return TRUE;
}

inline std::string DesktopReport() {
  const char* display = std::getenv("DISPLAY");
  DWORD desktopOwner = 0;
  const HWND desktop = GetDesktopWindow();
  GetWindowThreadProcessId(desktop, &desktopOwner);
  std::string report =
      "\nDISPLAY: " + std::string(display ? display : "not set") +
      "\ndesktop window: " +
      (desktop ? "of " + std::to_string(desktopOwner) : std::string("none")) +
      "\nrunning programs:" + RunningPrograms(desktopOwner) +
      "\ntop-level windows:";
  EnumWindows(NoteWindow, reinterpret_cast<LPARAM>(&report));
  return report;
}

// The same, after the error that the call which failed left.
inline std::string DesktopReport(DWORD error) {
  return "\nlast error: " + ErrorText(error) + DesktopReport();
}

}  // namespace testsupport
