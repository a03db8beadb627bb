#include "platform/qt/messagewindow.h"

#include <QDateTime>
#include <QPointer>
#include <QSocketNotifier>

namespace platform::qt {

namespace {
MessageWindow::Filter& applicationFilter()
{
    static MessageWindow::Filter filter;
    return filter;
}
} // namespace

MessageWindow::MessageWindow(const QByteArray& title, Filter handler, QObject* parent, const std::string& instance)
    : QObject(parent), handler_(std::move(handler))
{
    window_ = std::make_unique<winmsg::Window>(
        title.toStdString(), [this](UINT msg, WPARAM wParam, LPARAM lParam) { return handle(msg, wParam, lParam); },
        instance);
    if (window_->registered()) {
        notifier_ = new QSocketNotifier(window_->fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { window_->dispatch(); });
    }
}

MessageWindow::~MessageWindow()
{
    delete notifier_; // before the descriptor it watches goes
    notifier_ = nullptr;
    window_.reset();
}

bool MessageWindow::registered() const { return window_->registered(); }
HWND MessageWindow::hwnd() const { return window_->hwnd(); }
QByteArray MessageWindow::title() const { return QByteArray::fromStdString(window_->title()); }

MessageWindow::Filter MessageWindow::setApplicationFilter(Filter filter)
{
    Filter previous = std::move(applicationFilter());
    applicationFilter() = std::move(filter);
    return previous;
}

LRESULT MessageWindow::handle(UINT msg, WPARAM wParam, LPARAM lParam)
{
    MSG message{window_->hwnd(), msg, wParam, lParam,
                static_cast<DWORD>(QDateTime::currentMSecsSinceEpoch())};
    LRESULT result = 0;
    // Until this message is answered the window takes no other (see
    // Window::dispatch); not watching meanwhile keeps a nested event loop, a
    // modal box's, from waking up for them again and again.
    struct Unwatched {
        QPointer<QSocketNotifier> notifier; // the window may go while its handler runs
        explicit Unwatched(QSocketNotifier* n) : notifier(n && n->isEnabled() ? n : nullptr)
        {
            if (notifier)
                notifier->setEnabled(false);
        }
        ~Unwatched()
        {
            if (notifier)
                notifier->setEnabled(true);
        }
    } unwatched(notifier_);
    // A message must not take the program down, whatever a handler does with it.
    try {
        const Filter filter = applicationFilter();
        if (filter && filter(&message, &result))
            return result;
        result = 0;
        if (handler_ && handler_(&message, &result))
            return result;
    } catch (...) {
    }
    return 0;
}

} // namespace platform::qt
