#include "platform/qt/messagebox.h"

#include "platform/win32/messagebox.h"

#include <QPushButton>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace platform::qt {

namespace {

QMessageBox::StandardButton firstOf(QMessageBox::StandardButtons buttons)
{
    const unsigned value = static_cast<unsigned>(buttons);
    if (value == 0)
        return QMessageBox::Ok;
    return static_cast<QMessageBox::StandardButton>(value & (~value + 1));
}

bool onGuiThread()
{
    return QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// The owners GetActiveWindow hands out are top-level widgets; one that has
// gone since (or any other handle) gives a box without owner.
QWidget* ownerWidget(HWND owner)
{
    if (owner == nullptr || !onGuiThread())
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget == owner)
            return widget;
    return nullptr;
}

QMessageBox::Icon iconOf(UINT type)
{
    switch (type & 0xF0) {
    case MB_ICONERROR: // also MB_ICONSTOP and MB_ICONHAND
        return QMessageBox::Critical;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int showForMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const QString body = QString::fromLocal8Bit(text != nullptr ? text : "");
    const QString title = QString::fromLocal8Bit(caption != nullptr ? caption : "");
    messageBox(ownerWidget(owner), iconOf(type), title, body);
    return IDOK;
}

HWND activeWindow() { return onGuiThread() ? static_cast<HWND>(QApplication::activeWindow()) : nullptr; }

// Boxes opened past messageBox() (QMessageBox::warning and the like) are
// answered too under KEST_MESSAGEBOX=stderr: written out when shown, then
// their default button is clicked once their event loop runs.
class HeadlessBoxFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !platform::messageBoxesToStderr())
            return false;
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box == nullptr)
            return false;
        platform::writeMessageBoxToStderr(box->windowTitle().toUtf8().constData(),
                                          box->text().toUtf8().constData());
        QPointer<QMessageBox> guard(box);
        QTimer::singleShot(0, box, [guard] {
            if (guard == nullptr)
                return;
            QAbstractButton* button = guard->defaultButton();
            if (button == nullptr)
                button = guard->button(firstOf(guard->standardButtons()));
            if (button != nullptr)
                button->click();
            else
                guard->done(QMessageBox::Ok);
        });
        return false;
    }
};

} // namespace

QMessageBox::StandardButton messageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                       const QString& text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton)
{
    if (buttons == QMessageBox::NoButton)
        buttons = QMessageBox::Ok;
    if (defaultButton == QMessageBox::NoButton || !(buttons & defaultButton))
        defaultButton = firstOf(buttons);
    if (platform::messageBoxesToStderr() || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        platform::writeMessageBoxToStderr(caption.toUtf8().constData(), text.toUtf8().constData());
        return defaultButton;
    }
    QMessageBox::StandardButton answer = defaultButton;
    auto show = [&] {
        QMessageBox box(icon, caption, text, buttons, parent);
        box.setDefaultButton(defaultButton);
        const int result = box.exec();
        answer = result == 0 && box.clickedButton() == nullptr ? defaultButton
                                                               : static_cast<QMessageBox::StandardButton>(result);
    };
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        show();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::BlockingQueuedConnection);
    return answer;
}

void installMessageBoxHandler()
{
    platform::setMessageBoxHandler(showForMessageBoxA);
    platform::setActiveWindowProvider(activeWindow);
    static QPointer<QObject> filter; // one per application object
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && filter == nullptr) {
        filter = new HeadlessBoxFilter(app);
        app->installEventFilter(filter);
    }
}

} // namespace platform::qt
