// The update dialog on Qt Widgets: the controls at their places, handing the
// toolkit's notifications to the dialog logic.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "up_down.h"
#include "updater/form4.h"

namespace dov {

class TQtProgressBar : public QProgressBar, public TProgressBarControl {
 public:
  explicit TQtProgressBar(QWidget* parent);
  void SetRange(int min, int max) override { setRange(min, max); }
  void SetPosition(int position) override { setValue(position); }
  void SetStep(int step) override { step_ = step; }
  void StepIt() override { setValue(value() + step_); }
  // Paints at once when the bar on screen no longer shows the position.
  // Repainting a picture that has not changed would cost the update a
  // noticeable share of its time for nothing.
  void Repaint() override;
  void SetVisible(bool visible) override { setVisible(visible); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The filled part of the bar in pixels, as the position gives it.
  int Filled() const;

  int step_ = 10;
  int paintedFill_ = -1;
};

// Sized to its text; a carriage return starts a new line.
class TQtLabel : public QLabel, public TLabelControl {
 public:
  explicit TQtLabel(QWidget* parent) : QLabel(parent) {}
  void SetText(const std::u16string& text) override;
};

class TForm4View : public QWidget, public TFormControl {
 public:
  explicit TForm4View(TForm4::TPlatform platform);
  ~TForm4View() override;

  TForm4& Logic() { return *logic_; }
  TQtProgressBar* ProgressBar1() const { return progressBar1_; }
  QPushButton* Button8() const { return button8_; }
  TQtLabel* Label1() const { return label1_; }
  TUpDown* UpDown1() const { return upDown1_; }
  QLabel* DeviceName() const { return deviceName_; }

  void Close() override { close(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  TQtProgressBar* progressBar1_;
  QLabel* deviceName_;
  QPushButton* button8_;
  TQtLabel* label1_;
  TUpDown* upDown1_;
  std::unique_ptr<TForm4> logic_;
};

}  // namespace dov
