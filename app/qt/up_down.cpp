#include "up_down.h"

#include <QKeyEvent>
#include <algorithm>

namespace dov {
namespace {

QToolButton* Arrow(QWidget* parent, Qt::ArrowType type) {
  auto* button = new QToolButton(parent);
  button->setArrowType(type);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent),
      up_(Arrow(this, Qt::UpArrow)),
      down_(Arrow(this, Qt::DownArrow)) {
  setFocusPolicy(Qt::StrongFocus);
  connect(up_, &QToolButton::clicked, this, [this] { Press(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { Press(-1); });
}

void TUpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  position_ = std::clamp(position_, min_, max_);
}

void TUpDown::SetPosition(int position) {
  position_ = std::clamp(position, min_, max_);
}

void TUpDown::Press(int delta) {
  position_ = std::clamp(position_ + delta, min_, max_);
  if (onChanging_) onChanging_();
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up) {
    Press(+1);
  } else if (event->key() == Qt::Key_Down) {
    Press(-1);
  } else {
    QWidget::keyPressEvent(event);
  }
}

void TUpDown::resizeEvent(QResizeEvent*) {
  const int upper = height() / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper, width(), height() - upper);
}

}  // namespace dov
