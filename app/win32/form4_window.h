// The update dialog as a native window, built from a creation table: the
// controls at their places, handing their notifications to the dialog logic.
#pragma once

#include <windows.h>

#include <memory>

#include "updater/form4.h"

namespace dov {

// Keeps the position itself and hands it to the control only when the
// filled part of the bar changes by a pixel: each message to a native
// progress bar is a round trip to the window system, and an update steps
// the bar 20,480 times across a bar about 250 pixels wide.
class TWin32ProgressBar : public TProgressBarControl {
 public:
  explicit TWin32ProgressBar(HWND window) : window_(window) {}
  void SetRange(int min, int max) override;
  void SetPosition(int position) override;
  void SetStep(int step) override;
  void StepIt() override;
  void Repaint() override;
  void SetVisible(bool visible) override;

 private:
  // The filled part of the bar in pixels for a position.
  int Filled(int position) const;
  void Show(int position);

  HWND window_;
  int min_ = 0;
  int max_ = 100;
  int step_ = 10;
  int position_ = 0;
  int shown_ = 0;
  bool changed_ = false;
};

// Sized to its text.
class TWin32Label : public TLabelControl {
 public:
  explicit TWin32Label(HWND window) : window_(window) {}
  void SetText(const std::u16string& text) override;

 private:
  HWND window_;
};

class TWin32UpDown : public TUpDownControl {
 public:
  explicit TWin32UpDown(HWND window) : window_(window) {}
  void SetRange(int min, int max) override;
  void SetPosition(int position) override;
  int Position() const override;

 private:
  HWND window_;
};

// A font made for the dialog, deleted with it.
struct TFontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using TFont = std::unique_ptr<std::remove_pointer_t<HFONT>, TFontDeleter>;

class TForm4Window : public TFormControl {
 public:
  // Throws std::system_error when the dialog window cannot be made.
  explicit TForm4Window(TForm4::TPlatform platform);
  ~TForm4Window() override;
  TForm4Window(const TForm4Window&) = delete;
  TForm4Window& operator=(const TForm4Window&) = delete;

  HWND Handle() const { return window_; }
  TForm4& Logic() { return *logic_; }
  void Show();
  void Close() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  TFont font_, deviceNameFont_, labelFont_;
  HWND window_ = nullptr;
  HWND deviceName_ = nullptr;
  std::unique_ptr<TWin32ProgressBar> progressBar1_;
  std::unique_ptr<TWin32Label> label1_;
  std::unique_ptr<TWin32UpDown> upDown1_;
  std::unique_ptr<TForm4> logic_;
};

}  // namespace dov
