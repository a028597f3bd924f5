// A window's class and text, and wide text as UTF-8 for a report: what the
// Windows tests and test tools print about the windows they find.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

inline std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

inline std::wstring WindowClass(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// Carriage returns and line feeds are shown as \r and \n, so that one
// window's text stays on one line of a report.
inline std::string Utf8(const std::wstring& text) {
  std::wstring shown;
  for (const wchar_t c : text) {
    if (c == L'\r') {
      shown += L"\\r";
    } else if (c == L'\n') {
      shown += L"\\n";
    } else {
      shown += c;
    }
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, shown.data(),
                                       static_cast<int>(shown.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()),
                      out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace testsupport
