// The progress bar of dov-flash, as text: a bar redrawn in place on a
// terminal, a line for every tenth otherwise (logs, pipes).
#pragma once

#include <cstdio>
#include <string>

#include "updater/controls.h"

namespace dov::flash {

class TTextProgress : public TProgressBarControl {
 public:
  // `terminal`: whether `out` is a terminal that can redraw a line. A null
  // `out` shows nothing.
  TTextProgress(std::FILE* out, bool terminal)
      : out_(out), terminal_(terminal) {}

  void SetRange(int min, int max) override;
  void SetPosition(int position) override { position_ = position; }
  void SetStep(int step) override { step_ = step; }
  void StepIt() override { position_ += step_; }
  // Draws only when the percentage has changed: the procedure repaints for
  // every byte.
  void Repaint() override;
  void SetVisible(bool visible) override;

  // Ends a bar left on its line (by a failure), so that what follows
  // starts on a line of its own.
  void Finish();

 private:
  std::string Text() const;
  int Percent() const;

  std::FILE* out_;
  bool terminal_;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int step_ = 10;
  bool visible_ = false;
  bool drawn_ = false;     // a terminal line is open
  int shownPercent_ = -1;  // on the terminal line
  int shownTenth_ = -1;    // the last tenth written as a line
};

}  // namespace dov::flash
