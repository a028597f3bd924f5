// Prints the texts of the visible top-level windows whose title is the given
// one, for a test that checks what a program shows under Wine: child windows
// drawn by Wine itself are not X windows, so their texts cannot be read
// through X. It only reads; it sends no input and changes no window.
//
//   window_texts.exe TITLE
//
// For each match: a line "window CLASS" and then one line per child window,
// "CLASS: TEXT" (carriage returns and line feeds shown as \r and \n).
// Exit code 0 when a window was found, 1 when none was.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/window_text.h"

namespace {

using testsupport::Utf8;
using testsupport::WindowClass;
using testsupport::WindowText;

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  std::printf("%s: %s\n", Utf8(WindowClass(child)).c_str(),
              Utf8(WindowText(child)).c_str());
  return TRUE;
}

struct Search {
  std::wstring title;
  int found = 0;
};

BOOL CALLBACK PrintMatch(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  if (!IsWindowVisible(window) || WindowText(window) != search.title)
    return TRUE;
  ++search.found;
  std::printf("window %s\n", Utf8(WindowClass(window)).c_str());
  EnumChildWindows(window, PrintChild, 0);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: window_texts.exe TITLE\n", stderr);
    return 2;
  }
  Search search{argv[1]};
  EnumWindows(PrintMatch, reinterpret_cast<LPARAM>(&search));
  std::fflush(stdout);
  return search.found > 0 ? 0 : 1;
}
