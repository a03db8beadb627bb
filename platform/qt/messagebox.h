// Message boxes of the Qt programs. Every box goes through here so that
// KEST_MESSAGEBOX=stderr can answer it headless: the box is written to stderr as
// "CAPTION: TEXT" and answered with its default button.
#pragma once

#include <QMessageBox>
#include <QString>

namespace platform::qt {

// Makes MessageBoxA show a QMessageBox while a QApplication exists (from any
// thread: the box opens on the GUI thread), owned by the widget GetActiveWindow
// gave (QApplication::activeWindow on the GUI thread). Without one, MessageBoxA
// keeps writing to stderr. Call it once the application object exists: it also
// makes KEST_MESSAGEBOX=stderr answer boxes opened by QMessageBox's own functions.
void installMessageBoxHandler();

// QMessageBox with the given icon, caption, text and buttons. With no default
// button given, the first of the buttons (in StandardButton order) is the default.
QMessageBox::StandardButton messageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                       const QString& text,
                                       QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

} // namespace platform::qt
