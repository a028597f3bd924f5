// Qt's QSerialPort: write() then waitForBytesWritten() per piece, readyRead
// for the receive notification, the event loop on this thread.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <stdexcept>
#include <vector>

#include "bench_subject.h"

namespace bench {
namespace {

class QtSubject final : public Subject {
 public:
  std::string Name() const override { return "QSerialPort"; }

  void Open(const PortNames& names) override {
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromStdString(names.path));
    if (!port_->open(QIODevice::ReadWrite)) {
      throw std::runtime_error("QSerialPort open: " +
                               port_->errorString().toStdString());
    }
    port_->setBaudRate(115200);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
  }
  void Close() override { port_.reset(); }

  void WriteAll(std::size_t piece, std::size_t total) override {
    QByteArray data(static_cast<qsizetype>(piece), 'q');
    for (std::size_t done = 0; done < total; done += piece) {
      port_->write(data);
      port_->waitForBytesWritten(-1);
    }
  }

  void Listen(int rounds, const std::function<void()>& received) override {
    QEventLoop loop;
    int count = 0;
    auto connection =
        QObject::connect(port_.get(), &QSerialPort::readyRead, [&] {
          port_->readAll();
          received();
          if (++count == rounds) loop.quit();
        });
    loop.exec();
    QObject::disconnect(connection);
  }

  void Idle(double seconds) override {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop,
                       &QEventLoop::quit);
    loop.exec();
  }

 private:
  std::unique_ptr<QSerialPort> port_;
};

}  // namespace

std::unique_ptr<Subject> MakeQtSubject() {
  return std::make_unique<QtSubject>();
}

}  // namespace bench
