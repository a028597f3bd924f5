#include "form4_window.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <system_error>

#include "updater/form4_layout.h"
#include "updater/text_fit.h"

namespace dov {
namespace {

constexpr wchar_t kWindowClass[] = L"TForm4";
constexpr int kButton8Id = 8;

std::wstring Wide(const char16_t* text) {
  return std::wstring(text, text + std::char_traits<char16_t>::length(text));
}

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD,
                      LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(const std::wstring& face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &wanted, NoteFace, reinterpret_cast<LPARAM>(&found),
                      0);
  ReleaseDC(nullptr, dc);
  return found;
}

// The face asked for where it is installed, else the first fallback that is.
std::wstring Face(const char16_t* wanted) {
  if (FaceInstalled(Wide(wanted))) return Wide(wanted);
  for (const char16_t* fallback : form4::kFallbackFaces) {
    if (FaceInstalled(Wide(fallback))) return Wide(fallback);
  }
  return Wide(wanted);
}

TFont MakeFont(const std::wstring& face, const form4::TFontSpec& spec,
               int height) {
  return TFont(CreateFontW(
      -height, 0, 0, 0, spec.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
      DEFAULT_PITCH | FF_SWISS, face.c_str()));
}

TFont MakeFont(const form4::TFontSpec& spec) {
  return MakeFont(Face(spec.Face), spec, spec.Height);
}

// The face of `spec` at the largest height, up to its own, at which `text`
// fits `width` pixels.
TFont MakeFittedFont(const form4::TFontSpec& spec, const char16_t* text,
                     int width) {
  const std::wstring face = Face(spec.Face);
  const std::wstring line = Wide(text);
  HDC dc = GetDC(nullptr);
  const int height = FitTextHeight(spec.Height, width, [&](int h) {
    const TFont font = MakeFont(face, spec, h);
    const HGDIOBJ previous = SelectObject(dc, font.get());
    SIZE extent{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()),
                          &extent);
    SelectObject(dc, previous);
    return static_cast<int>(extent.cx);
  });
  ReleaseDC(nullptr, dc);
  return MakeFont(face, spec, height);
}

struct TChild {
  const wchar_t* windowClass;
  const char16_t* text;
  DWORD style;
  form4::TRect rect;
  int id;
};

HWND CreateChild(HWND parent, const TChild& child, HFONT font) {
  const form4::TRect& r = child.rect;
  HWND window = CreateWindowExW(
      0, child.windowClass, Wide(child.text).c_str(), WS_CHILD | child.style,
      r.Left, r.Top, r.Width, r.Height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.id)),
      GetModuleHandleW(nullptr), nullptr);
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  // A control may size itself when made (some up-down controls narrow to a
  // width of their own); it keeps the layout's rectangle.
  SetWindowPos(window, nullptr, r.Left, r.Top, r.Width, r.Height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

}  // namespace

void TWin32ProgressBar::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  SendMessageW(window_, PBM_SETRANGE32, min, max);
  Show(std::clamp(position_, min_, max_));
}
void TWin32ProgressBar::SetPosition(int position) {
  position_ = std::clamp(position, min_, max_);
  Show(position_);
}
void TWin32ProgressBar::SetStep(int step) { step_ = step; }
// Past the end the control starts again from its start, as PBM_STEPIT does.
void TWin32ProgressBar::StepIt() {
  position_ += step_;
  if (position_ > max_) position_ = min_ + (position_ - max_);
  if (position_ == max_ || Filled(position_) != Filled(shown_)) {
    Show(position_);
  }
}
int TWin32ProgressBar::Filled(int position) const {
  RECT client{};
  GetClientRect(window_, &client);
  const long long range = std::max(1LL, 0LL + max_ - min_);
  return static_cast<int>((0LL + position - min_) * client.right / range);
}
void TWin32ProgressBar::Show(int position) {
  SendMessageW(window_, PBM_SETPOS, position, 0);
  shown_ = position;
  changed_ = true;
}
// Paints at once what the last change altered; the control invalidates only
// the part of the bar that a new position alters.
void TWin32ProgressBar::Repaint() {
  if (!changed_) return;
  changed_ = false;
  UpdateWindow(window_);
}
void TWin32ProgressBar::SetVisible(bool visible) {
  ShowWindow(window_, visible ? SW_SHOW : SW_HIDE);
}

void TWin32Label::SetText(const std::u16string& text) {
  const std::wstring wide(text.begin(), text.end());
  SetWindowTextW(window_, wide.c_str());
  // Sized to the text in the label's own font.
  HDC dc = GetDC(window_);
  const HGDIOBJ previous = SelectObject(
      dc, reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0)));
  RECT extent{0, 0, 0, 0};
  DrawTextW(dc, wide.c_str(), -1, &extent, DT_CALCRECT | DT_NOPREFIX);
  SelectObject(dc, previous);
  ReleaseDC(window_, dc);
  SetWindowPos(window_, nullptr, 0, 0, extent.right, extent.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(GetParent(window_), nullptr, TRUE);
}

void TWin32UpDown::SetRange(int min, int max) {
  SendMessageW(window_, UDM_SETRANGE32, min, max);
}
void TWin32UpDown::SetPosition(int position) {
  SendMessageW(window_, UDM_SETPOS32, 0, position);
}
int TWin32UpDown::Position() const {
  return static_cast<int>(SendMessageW(window_, UDM_GETPOS32, 0, 0));
}

TForm4Window::TForm4Window(TForm4::TPlatform platform)
    : font_(MakeFont(form4::kFont)),
      deviceNameFont_(MakeFittedFont(form4::kDeviceNameFont,
                                     form4::kDeviceNameText,
                                     form4::kDeviceName.Width)),
      labelFont_(MakeFont(form4::kLabel1Font)) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassW(&windowClass);

  // A fixed dialog frame with only a close button, centred on the desktop,
  // with a taskbar button of its own.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
  RECT frame{0, 0, form4::kClientWidth, form4::kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT desktop;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
  window_ = CreateWindowExW(
      exStyle, kWindowClass, Wide(form4::kCaption).c_str(), style,
      desktop.left + (desktop.right - desktop.left - width) / 2,
      desktop.top + (desktop.bottom - desktop.top - height) / 2, width, height,
      nullptr, nullptr, windowClass.hInstance, this);
  // Without a window system to draw on (under Wine: no reachable X display)
  // no window can be made; a dialog that does not exist would leave the
  // program waiting for good on a window nobody sees.
  if (!window_) {
    const DWORD error = GetLastError();
    UnregisterClassW(kWindowClass, windowClass.hInstance);
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "cannot make the dialog window");
  }
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()),
               FALSE);

  // Creation order is tab order: the bar, the button, the arrows.
  HWND bar = CreateChild(
      window_, {PROGRESS_CLASSW, u"", 0, form4::kProgressBar1, 0}, font_.get());
  deviceName_ = CreateChild(
      window_,
      {WC_STATICW, form4::kDeviceNameText,
       WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, form4::kDeviceName, 0},
      deviceNameFont_.get());
  CreateChild(
      window_,
      {WC_BUTTONW, form4::kButton8Caption,
       WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, form4::kButton8, kButton8Id},
      font_.get());
  HWND label = CreateChild(
      window_,
      {WC_STATICW, u"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, form4::kLabel1, 0},
      labelFont_.get());
  HWND upDown =
      CreateChild(window_,
                  {UPDOWN_CLASSW, u"", WS_VISIBLE | WS_TABSTOP | UDS_ARROWKEYS,
                   form4::kUpDown1, 0},
                  font_.get());

  progressBar1_ = std::make_unique<TWin32ProgressBar>(bar);
  label1_ = std::make_unique<TWin32Label>(label);
  upDown1_ = std::make_unique<TWin32UpDown>(upDown);
  logic_ = std::make_unique<TForm4>(
      TForm4::TControls{*progressBar1_, *label1_, *upDown1_, *this}, platform);
}

TForm4Window::~TForm4Window() {
  logic_.reset();  // closes the port while the window still exists
  if (window_) DestroyWindow(window_);
  UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
}

void TForm4Window::Show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

void TForm4Window::Close() { PostMessageW(window_, WM_CLOSE, 0, 0); }

LRESULT CALLBACK TForm4Window::WindowProc(HWND window, UINT message,
                                          WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self =
      reinterpret_cast<TForm4Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && self->logic_)
    return self->Handle(window, message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TForm4Window::Handle(HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam) {
  TForm4& form = *logic_;
  switch (message) {
    case WM_SHOWWINDOW:
      if (wParam) form.Dispatch([&] { form.FormShow(&form); });
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == kButton8Id && HIWORD(wParam) == BN_CLICKED) {
        form.Dispatch([&] { form.Button8Click(&form); });
        return 0;
      }
      break;
    case WM_VSCROLL:
      // The arrows have moved the position (within 1..30) already.
      if (LOWORD(wParam) == SB_THUMBPOSITION) {
        bool allow = true;
        form.Dispatch([&] { form.UpDown1Changing(&form, allow); });
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const bool deviceName = reinterpret_cast<HWND>(lParam) == deviceName_;
      SetTextColor(dc,
                   deviceName ? RGB(0, 0, 0) : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      if (form.CloseQuery()) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace dov
