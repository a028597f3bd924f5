// The controls the dialog logic drives. The views (Qt, Win32) implement
// them over their toolkit's widgets; tests use plain fakes. Nothing here
// knows a toolkit.
#pragma once

#include <string>

namespace dov {

class TProgressBarControl {
 public:
  virtual ~TProgressBarControl() = default;
  virtual void SetRange(int min, int max) = 0;
  virtual void SetPosition(int position) = 0;
  virtual void SetStep(int step) = 0;
  // Advances the position by the step.
  virtual void StepIt() = 0;
  // Repaints the bar now, not through the message queue.
  virtual void Repaint() = 0;
  virtual void SetVisible(bool visible) = 0;
};

class TLabelControl {
 public:
  virtual ~TLabelControl() = default;
  virtual void SetText(const std::u16string& text) = 0;
};

// Vertical arrows over a range, without an edit field. The control keeps
// its position inside the range: a press beyond either end leaves it there.
class TUpDownControl {
 public:
  virtual ~TUpDownControl() = default;
  virtual void SetRange(int min, int max) = 0;
  virtual void SetPosition(int position) = 0;
  virtual int Position() const = 0;
};

// The dialog window itself.
class TFormControl {
 public:
  virtual ~TFormControl() = default;
  // Closes the dialog (its close request then meets TForm4::CloseQuery).
  virtual void Close() = 0;
};

}  // namespace dov
