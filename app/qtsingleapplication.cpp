#include "app/qtsingleapplication.h"

#include "platform/qt/messagewindow.h"

#include <QVector>
#include <QWidget>

#include <cstring>
#include <string>

QtSingleApplication::QtSingleApplication(const QString& id, int& argc, char** argv, const QString& instance)
    : QApplication(argc, argv), applicationId_(id), instance_(instance.toStdString())
{
    platform::qt::MessageWindow::setApplicationFilter(
        [this](MSG* message, LRESULT* result) {
            if (!winEventFilter(message))
                return false;
            *result = 1;
            return true;
        });
}

QtSingleApplication::~QtSingleApplication()
{
    platform::qt::MessageWindow::setApplicationFilter({});
    delete listener_;
    delete listenerWindow_;
}

QString QtSingleApplication::applicationId() const { return applicationId_; }
QWidget* QtSingleApplication::listenerWindow() const { return listenerWindow_; }
bool QtSingleApplication::isListening() const { return listener_ != nullptr; }
QString QtSingleApplication::listeningError() const { return listeningError_; }

bool QtSingleApplication::startListening(bool activate)
{
    if (listener_ == nullptr) {
        auto* listener = new platform::qt::MessageWindow(applicationId_.toLocal8Bit(), {}, this, instance_);
        if (!listener->registered()) {
            delete listener; // a later call may try again
            // Only a listener that exists elsewhere means a running copy.
            std::string problem;
            listeningError_ = platform::winmsg::windowDirectory(instance_, &problem).empty()
                ? QString::fromLocal8Bit(problem.c_str())
                : QString();
            return false;
        }
        listeningError_.clear();
        listener_ = listener;
        // A plain hidden top-level window, never shown; its native side is the listener.
        listenerWindow_ = new QWidget;
        listenerWindow_->setWindowTitle(applicationId_);
    }
    if (activate)
        connect(this, &QtSingleApplication::messageReceived, this, &QtSingleApplication::activateMainWidget,
                Qt::UniqueConnection);
    return true;
}

void QtSingleApplication::setMainWidget(QWidget* widget) { mainWidget_ = widget; }
QWidget* QtSingleApplication::mainWidget() const { return mainWidget_; }

bool QtSingleApplication::winEventFilter(MSG* message)
{
    if (message == nullptr || listener_ == nullptr || message->message != WM_COPYDATA
        || message->hwnd != listener_->hwnd())
        return false;
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(message->lParam);
    // UTF-16 with a terminating zero; nothing is read beyond cbData.
    if (copy == nullptr || copy->lpData == nullptr || copy->cbData == 0 || copy->cbData % 2 != 0
        || copy->cbData > platform::winmsg::kMaxCopyData)
        return true;
    QVector<ushort> units(static_cast<int>(copy->cbData / 2));
    std::memcpy(units.data(), copy->lpData, copy->cbData);
    int length = 0;
    while (length < units.size() && units[length] != 0)
        ++length;
    emit messageReceived(QString::fromUtf16(units.constData(), length));
    return true;
}

bool QtSingleApplication::sendMessage(const QString& message, int timeout)
{
    const QByteArray title = applicationId_.toLocal8Bit();
    HWND window = platform::winmsg::findWindow(instance_, title.toStdString());
    if (window == nullptr)
        return false;
    QVector<ushort> units(message.size() + 1, 0);
    std::memcpy(units.data(), message.utf16(), static_cast<size_t>(message.size()) * 2);
    COPYDATASTRUCT copy{0, static_cast<DWORD>(units.size() * 2), units.data()};
    if (copy.cbData > platform::winmsg::kMaxCopyData)
        return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG,
                               static_cast<UINT>(timeout < 0 ? 0 : timeout), &result)
        != 0;
}

void QtSingleApplication::activateMainWidget()
{
    QWidget* widget = mainWidget_;
    if (widget == nullptr)
        return;
    if (widget->isMinimized())
        widget->setWindowState((widget->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    if (!widget->isVisible())
        widget->show();
    widget->raise();
    widget->activateWindow();
}
