// The progress bar of dov-flash, as text: a bar redrawn in place on a
// terminal, as wide as the terminal allows, a line for every tenth
// otherwise (logs, pipes).
#pragma once

#include <functional>
#include <string>

#include "terminal_width.h"
#include "updater/controls.h"
#include "updater/output_channel.h"

namespace dov::flash {

// `text` cut to fit `columns` - 1 characters (the last column stays free:
// some terminals wrap when it is written).
std::string FitLine(std::string text, int columns);

class TTextProgress : public TProgressBarControl {
 public:
  // `terminal`: whether `out` is a terminal that can redraw a line, whose
  // width `columns` tells. A null `out` shows nothing.
  TTextProgress(TOutputChannel* out, bool terminal,
                std::function<int()> columns = TerminalColumns)
      : out_(out), terminal_(terminal), columns_(std::move(columns)) {}

  void SetRange(int min, int max) override;
  void SetPosition(int position) override { position_ = position; }
  void SetStep(int step) override { step_ = step; }
  void StepIt() override { position_ += step_; }
  // Draws only when the percentage has changed or the terminal's size: the
  // procedure repaints for every byte.
  void Repaint() override;
  void SetVisible(bool visible) override;

  // Ends a bar left on its line (by a failure), so that what follows
  // starts on a line of its own.
  void Finish();

 private:
  std::string Text(int columns) const;
  int Percent() const;

  TOutputChannel* out_;
  bool terminal_;
  std::function<int()> columns_;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int step_ = 10;
  bool visible_ = false;
  bool drawn_ = false;         // a terminal line is open
  int shownPercent_ = -1;      // on the terminal line
  unsigned shownResizes_ = 0;  // the terminal's size changes it was drawn after
  int shownTenth_ = -1;        // the last tenth written as a line
};

}  // namespace dov::flash
