// Up and down arrows over a range, with no edit field: the number is shown
// elsewhere. A press beyond either end leaves the position where it is. Up
// and Down keys work while it has the focus; held arrows repeat.
#pragma once

#include <QToolButton>
#include <QWidget>
#include <functional>

#include "updater/controls.h"

namespace dov {

class TUpDown : public QWidget, public TUpDownControl {
 public:
  explicit TUpDown(QWidget* parent);

  void SetRange(int min, int max) override;
  void SetPosition(int position) override;
  int Position() const override { return position_; }

  // Called after every press of an arrow, with the position already moved.
  void SetOnChanging(std::function<void()> handler) {
    onChanging_ = std::move(handler);
  }

  QToolButton* UpArrow() const { return up_; }
  QToolButton* DownArrow() const { return down_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Press(int delta);

  QToolButton* up_;
  QToolButton* down_;
  int min_ = 0, max_ = 100, position_ = 0;
  std::function<void()> onChanging_;
};

}  // namespace dov
