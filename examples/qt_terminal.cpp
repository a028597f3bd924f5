// A small terminal on Qt: what the port receives shows in the view, and a
// line typed into the input is sent with CR LF. Notifications arrive in Qt's
// event loop through CPort::Qt.
//   qt_terminal COM3 [LINE]   (LINE is sent once the port is open)
#include <cport/comport.h>
#include <cport/fw/qt_application.h>
#include <cport/fw/qt_error_box.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QWidget>
#include <exception>

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() < 2) return 2;
  cport::fw::TQtApplication application;
  application.SetTitle(u"CPort terminal");

  QWidget window;
  auto* view = new QPlainTextEdit;
  auto* input = new QLineEdit;
  auto* layout = new QVBoxLayout(&window);
  view->setReadOnly(true);
  layout->addWidget(view);
  layout->addWidget(input);
  cport::fw::ShowExceptionsInErrorBox(application, &window);

  cport::TComPort port(nullptr);
  port.SetPort(arguments[1].toStdU16String());
  port.SetBaudRate(cport::br115200);
  port.SetOnRxChar([&](cport::fw::TObject*, std::int32_t count) {
    QByteArray bytes(count, Qt::Uninitialized);
    bytes.resize(port.Read(bytes.data(), count));
    view->moveCursor(QTextCursor::End);
    view->insertPlainText(QString::fromLatin1(bytes));
  });
  auto send = [&](const QString& text) {
    const QByteArray bytes = text.toLatin1() + "\r\n";
    port.Write(bytes.constData(), static_cast<std::int32_t>(bytes.size()));
  };
  QObject::connect(input, &QLineEdit::returnPressed, [&] {
    send(input->text());
    input->clear();
  });

  try {
    port.Open();
    if (arguments.size() > 2) send(arguments[2]);
  } catch (...) {
    application.HandleException(std::current_exception());
    return 1;
  }
  window.show();
  application.Run();
  return 0;
}
