// The Win32 dialog in this process, with the program's manifest (common
// controls 6): its controls sit where the layout puts them, and its texts
// fit them in whatever face the system gives.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "form4_window.h"
#include "support/desktop_report.h"
#include "support/idle_platform.h"
#include "support/window_text.h"
#include "updater/form4_layout.h"

namespace dov {
namespace {

// A child's rectangle in its dialog's client area.
form4::TRect Placement(HWND dialog, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The width of `text` in the font a control draws with.
int TextWidth(HWND control, const std::wstring& text, int pixelHeight = 0) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  LOGFONTW spec{};
  GetObjectW(font, sizeof spec, &spec);
  if (pixelHeight != 0) spec.lfHeight = -pixelHeight;
  HFONT sized = CreateFontIndirectW(&spec);
  HDC dc = GetDC(control);
  const HGDIOBJ previous = SelectObject(dc, sized);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()),
                        &extent);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  DeleteObject(sized);
  return static_cast<int>(extent.cx);
}

class Win32DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
      GTEST_SKIP() << "No X display (DISPLAY is not set): the dialog cannot "
                      "be made. Run the tests through scripts/with-display.";
    }
    const INITCOMMONCONTROLSEX controls{
        sizeof(INITCOMMONCONTROLSEX),
        ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    try {
      window =
          std::make_unique<TForm4Window>(TForm4::TPlatform{none, none, none});
    } catch (const std::system_error& error) {
      FAIL() << error.what()
             << testsupport::DesktopReport(
                    static_cast<DWORD>(error.code().value()));
    }
    window->Show();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    // Every test reads the controls: none runs without all of them.
    ASSERT_EQ(Children().size(), std::size(form4::kChildren))
        << "the dialog's controls are missing" << testsupport::DesktopReport();
  }

  // The dialog's controls in creation order.
  std::vector<HWND> Children() const {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window->Handle(), GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
      children.push_back(child);
    return children;
  }

  TIdlePlatform none;
  std::unique_ptr<TForm4Window> window;
};

TEST_F(Win32DialogTest, ControlsSitWhereTheLayoutPutsThem) {
  const wchar_t* classes[] = {L"msctls_progress32", L"Static", L"Button",
                              L"Static", L"msctls_updown32"};
  const std::vector<HWND> children = Children();
  ASSERT_EQ(children.size(), std::size(form4::kChildren));
  for (std::size_t i = 0; i < children.size(); ++i) {
    const form4::TChildLayout& child = form4::kChildren[i];
    EXPECT_EQ(testsupport::WindowClass(children[i]), classes[i]) << child.Name;
    const form4::TRect at = Placement(window->Handle(), children[i]);
    EXPECT_EQ(at.Left, child.Rect.Left) << child.Name;
    EXPECT_EQ(at.Top, child.Rect.Top) << child.Name;
    if (!child.SizedToText) {
      EXPECT_EQ(at.Width, child.Rect.Width) << child.Name;
      EXPECT_EQ(at.Height, child.Rect.Height) << child.Name;
    }
  }
}

TEST_F(Win32DialogTest, DeviceNameFitsItsBox) {
  const std::vector<HWND> children = Children();
  ASSERT_GE(children.size(), 2u);
  HWND name = children[1];
  const std::wstring text(
      form4::kDeviceNameText,
      form4::kDeviceNameText +
          std::char_traits<char16_t>::length(form4::kDeviceNameText));
  RECT box;
  GetClientRect(name, &box);
  LOGFONTW spec{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(name, WM_GETFONT, 0, 0)),
             sizeof spec, &spec);
  const int height = -spec.lfHeight;
  EXPECT_LE(TextWidth(name, text), box.right) << "cut at " << height << " px";
  // Only a text too wide for its box is drawn smaller.
  EXPECT_LE(height, form4::kDeviceNameFont.Height);
  if (height < form4::kDeviceNameFont.Height) {
    EXPECT_GT(TextWidth(name, text, height + 1), box.right)
        << "shrunk further than it had to";
  }
}

// Counts the position changes a progress bar is sent.
LRESULT CALLBACK CountPositions(HWND window, UINT message, WPARAM wParam,
                                LPARAM lParam, UINT_PTR, DWORD_PTR counter) {
  if (message == PBM_SETPOS || message == PBM_STEPIT || message == PBM_DELTAPOS)
    ++*reinterpret_cast<int*>(counter);
  return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(Win32DialogTest, BarIsToldOfAPositionOnlyWhenItsPictureChanges) {
  HWND control = Children().front();
  TWin32ProgressBar bar(control);
  bar.SetRange(0, 20480);
  bar.SetPosition(0);
  bar.SetStep(1);
  bar.SetVisible(true);
  int positions = 0;
  ASSERT_TRUE(SetWindowSubclass(control, CountPositions, 1,
                                reinterpret_cast<DWORD_PTR>(&positions)));
  RECT client;
  GetClientRect(control, &client);
  int positionsAtHalf = 0;
  for (int i = 1; i <= 20480; ++i) {
    bar.StepIt();
    bar.Repaint();
    if (i == 10240) {
      positionsAtHalf = positions;
      EXPECT_NEAR(SendMessageW(control, PBM_GETPOS, 0, 0), 10240,
                  20480 / client.right + 1);
    }
  }
  RemoveWindowSubclass(control, CountPositions, 1);
  // About once per pixel of the bar, not once per step, and the last
  // position exactly.
  EXPECT_GT(positionsAtHalf, client.right / 4);
  EXPECT_LE(positions, client.right + 1);
  EXPECT_EQ(SendMessageW(control, PBM_GETPOS, 0, 0), 20480);
}

}  // namespace
}  // namespace dov
