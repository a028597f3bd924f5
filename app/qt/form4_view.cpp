#include "form4_view.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "updater/form4_layout.h"
#include "updater/text_fit.h"

namespace dov {
namespace {

QFont DialogFont(const form4::TFontSpec& spec) {
  QFont font;
  QStringList faces{QString::fromUtf16(spec.Face)};
  for (const char16_t* face : form4::kFallbackFaces)
    faces << QString::fromUtf16(face);
  font.setFamilies(faces);
  font.setPixelSize(spec.Height);
  font.setBold(spec.Bold);
  return font;
}

// The face of `spec` at the largest height, up to its own, at which `text`
// fits `width` pixels.
QFont FittedFont(const form4::TFontSpec& spec, const QString& text, int width) {
  QFont font = DialogFont(spec);
  font.setPixelSize(FitTextHeight(spec.Height, width, [&](int height) {
    QFont sized(font);
    sized.setPixelSize(height);
    return QFontMetrics(sized).horizontalAdvance(text);
  }));
  return font;
}

template <class Widget>
Widget* Place(Widget* widget, const form4::TRect& r) {
  widget->setGeometry(r.Left, r.Top, r.Width, r.Height);
  return widget;
}

}  // namespace

TQtProgressBar::TQtProgressBar(QWidget* parent) : QProgressBar(parent) {
  setTextVisible(false);
}

int TQtProgressBar::Filled() const {
  const long long range = std::max(1LL, 0LL + maximum() - minimum());
  return static_cast<int>((0LL + value() - minimum()) * width() / range);
}

void TQtProgressBar::Repaint() {
  if (Filled() != paintedFill_) repaint();
}

void TQtProgressBar::paintEvent(QPaintEvent* event) {
  paintedFill_ = Filled();
  QProgressBar::paintEvent(event);
}

void TQtLabel::SetText(const std::u16string& text) {
  setText(QString::fromStdU16String(text).replace(u'\r', u'\n'));
  adjustSize();
}

TForm4View::TForm4View(TForm4::TPlatform platform)
    : progressBar1_(Place(new TQtProgressBar(this), form4::kProgressBar1)),
      deviceName_(Place(new QLabel(this), form4::kDeviceName)),
      button8_(Place(new QPushButton(this), form4::kButton8)),
      label1_(Place(new TQtLabel(this), form4::kLabel1)),
      upDown1_(Place(new TUpDown(this), form4::kUpDown1)) {
  // A plain top-level window of fixed size with only a close button, and a
  // taskbar button of its own.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf16(form4::kCaption));
  setFixedSize(form4::kClientWidth, form4::kClientHeight);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);
  setFont(DialogFont(form4::kFont));

  const QString deviceName = QString::fromUtf16(form4::kDeviceNameText);
  deviceName_->setText(deviceName);
  deviceName_->setFont(
      FittedFont(form4::kDeviceNameFont, deviceName, form4::kDeviceName.Width));
  QPalette black = deviceName_->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  deviceName_->setPalette(black);

  button8_->setText(QString::fromUtf16(form4::kButton8Caption));
  label1_->setFont(DialogFont(form4::kLabel1Font));
  setTabOrder(button8_, upDown1_);

  logic_ = std::make_unique<TForm4>(
      TForm4::TControls{*progressBar1_, *label1_, *upDown1_, *this}, platform);
  TForm4& form = *logic_;
  connect(button8_, &QPushButton::clicked, this,
          [&form] { form.Dispatch([&form] { form.Button8Click(&form); }); });
  upDown1_->SetOnChanging([&form] {
    bool allow = true;
    form.Dispatch([&] { form.UpDown1Changing(&form, allow); });
  });

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect centred(QPoint(), size());
    centred.moveCenter(screen->availableGeometry().center());
    move(centred.topLeft());
  }
}

TForm4View::~TForm4View() = default;

void TForm4View::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) {
    logic_->Dispatch([this] { logic_->FormShow(logic_.get()); });
  }
}

void TForm4View::closeEvent(QCloseEvent* event) {
  if (logic_->CloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace dov
