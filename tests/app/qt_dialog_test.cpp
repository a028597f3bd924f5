// The Qt dialog, offscreen: its start state, its layout and its arrows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <map>
#include <memory>
#include <string>

#include "cport/fw/qt_application.h"
#include "form4_view.h"
#include "support/idle_platform.h"
#include "updater/form4_layout.h"

namespace dov {
namespace {

class QtDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "qt_dialog_test";
    static char* argv[] = {name, nullptr};
    qt = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete qt;
    qt = nullptr;
  }

  QtDialogTest() {
    view.show();
    application.ProcessMessages();
  }

  static QRect Rect(const form4::TRect& r) {
    return {r.Left, r.Top, r.Width, r.Height};
  }
  void PressKey(int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(view.UpDown1(), &press);
  }

  static QApplication* qt;
  cport::fw::TQtApplication application;
  TIdlePlatform none;
  TForm4View view{{none, none, none}};
};

QApplication* QtDialogTest::qt = nullptr;

TEST_F(QtDialogTest, StartsOnCom3WithTheBarHidden) {
  EXPECT_EQ(view.windowTitle(), "Orvik Ruz ZID OROVIV V1.0.1");
  EXPECT_EQ(view.Label1()->text(), "COM 3\n ");
  EXPECT_FALSE(view.ProgressBar1()->isVisible());
  EXPECT_EQ(view.UpDown1()->Position(), 3);
  EXPECT_EQ(view.Logic().PortNumber(), 3);
  EXPECT_EQ(view.Button8()->text(), "Update");
  EXPECT_EQ(view.DeviceName()->text(), "Orvik Dora VIV Ver.A");
}

TEST_F(QtDialogTest, ControlsSitWhereTheLayoutPutsThem) {
  EXPECT_EQ(view.size(), QSize(268, 111));
  EXPECT_EQ(view.minimumSize(), view.maximumSize());
  const std::map<std::string, QWidget*> widgets = {
      {"ProgressBar1", view.ProgressBar1()},
      {"DeviceName", view.DeviceName()},
      {"Button8", view.Button8()},
      {"Label1", view.Label1()},
      {"UpDown1", view.UpDown1()}};
  for (const form4::TChildLayout& child : form4::kChildren) {
    const QWidget* widget = widgets.at(child.Name);
    if (child.SizedToText) {
      EXPECT_EQ(widget->pos(), Rect(child.Rect).topLeft()) << child.Name;
    } else {
      EXPECT_EQ(widget->geometry(), Rect(child.Rect)) << child.Name;
    }
  }
  // The label is sized to its text: two lines at start.
  EXPECT_GE(view.Label1()->height(), 2 * view.Label1()->fontMetrics().height());
}

TEST_F(QtDialogTest, TextsFitTheirControlsInTheFacesAskedFor) {
  const QStringList faces{"Tahoma", "DejaVu Sans", "Liberation Sans"};
  const struct {
    QWidget* widget;
    int pixels;
    bool bold;
  } fonts[] = {{view.Button8(), 11, false},
               {view.DeviceName(), 19, false},
               {view.Label1(), 13, true}};
  for (const auto& f : fonts) {
    const QFontInfo info(f.widget->font());
    // Only a text too wide for its box is drawn smaller.
    EXPECT_LE(info.pixelSize(), f.pixels);
    EXPECT_EQ(info.bold(), f.bold);
    EXPECT_TRUE(faces.contains(info.family())) << info.family().toStdString();
  }
  const QLabel& name = *view.DeviceName();
  EXPECT_LE(name.fontMetrics().horizontalAdvance(name.text()),
            name.contentsRect().width())
      << "\"" << name.text().toStdString() << "\" is cut at "
      << QFontInfo(name.font()).pixelSize() << " px";
  QFont larger = name.font();
  larger.setPixelSize(QFontInfo(name.font()).pixelSize() + 1);
  if (QFontInfo(name.font()).pixelSize() < 19) {
    EXPECT_GT(QFontMetrics(larger).horizontalAdvance(name.text()),
              name.contentsRect().width())
        << "shrunk further than it had to";
  }
}

TEST_F(QtDialogTest, ArrowsMoveThePortAndStopAtTheEnds) {
  view.UpDown1()->UpArrow()->click();
  EXPECT_EQ(view.Label1()->text(), "COM 4");
  EXPECT_EQ(view.Logic().PortNumber(), 4);
  view.UpDown1()->DownArrow()->click();
  EXPECT_EQ(view.Label1()->text(), "COM 3");
  EXPECT_EQ(view.Logic().PortNumber(), 3);

  view.UpDown1()->SetPosition(29);
  PressKey(Qt::Key_Up);
  view.UpDown1()->UpArrow()->click();
  EXPECT_EQ(view.Label1()->text(), "COM 30");
  EXPECT_EQ(view.Logic().PortNumber(), 30);

  view.UpDown1()->SetPosition(2);
  PressKey(Qt::Key_Down);
  view.UpDown1()->DownArrow()->click();
  EXPECT_EQ(view.UpDown1()->Position(), 1);
  EXPECT_EQ(view.Label1()->text(), "COM 1");
  EXPECT_EQ(view.Logic().PortNumber(), 1);
}

// Counts the paints a widget receives.
struct PaintCounter : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
  int paints = 0;
};

TEST_F(QtDialogTest, BarIsPaintedAtOnceWheneverItsPictureChanges) {
  TQtProgressBar& bar = *view.ProgressBar1();
  bar.SetRange(0, 20480);
  bar.SetPosition(0);
  bar.SetStep(1);
  bar.SetVisible(true);
  application.ProcessMessages();
  PaintCounter counter;
  bar.installEventFilter(&counter);
  int paintsAtHalf = 0;
  for (int i = 1; i <= 20480; ++i) {
    bar.StepIt();
    bar.Repaint();
    if (i == 10240) paintsAtHalf = counter.paints;
  }
  // Painted without the event queue, about once per pixel of the bar, not
  // once per step.
  EXPECT_GT(paintsAtHalf, bar.width() / 4);
  EXPECT_GT(counter.paints, bar.width() / 2);
  EXPECT_LE(counter.paints, 2 * bar.width());
  EXPECT_EQ(bar.value(), 20480);
}

}  // namespace
}  // namespace dov
