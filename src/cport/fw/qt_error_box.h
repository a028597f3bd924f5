// The display of exceptions in a modal error box, for programs with Qt
// Widgets. Header-only, so that the Qt form of the application itself needs
// only Qt Core.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "cport/fw/application.h"

namespace cport::fw {

/// Makes `application` show each exception that escapes a handler in a modal
/// error box over `parent` (none when null or once it is gone), with the
/// application's title as the caption. Needs a QApplication.
inline void ShowExceptionsInErrorBox(TApplication& application,
                                     QWidget* parent = nullptr) {
  application.SetShowException([window = QPointer<QWidget>(parent)](
                                   const std::u16string& message,
                                   const std::u16string& caption) {
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(caption),
                    QString::fromStdU16String(message), QMessageBox::Ok,
                    window.data());
    box.exec();
  });
}

}  // namespace cport::fw
