// A window-message window pumped by the Qt event loop of the thread that makes it.
#pragma once

#include "platform/winmsg/winmsg.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform::qt {

class MessageWindow : public QObject {
    Q_OBJECT
public:
    // Returns true when it handled the message, the result in *result.
    using Filter = std::function<bool(MSG* message, LRESULT* result)>;

    // Registers the exact title in the folder of the named copy instance ("":
    // the unnamed copy); check registered(): another window may hold it.
    MessageWindow(const QByteArray& title, Filter handler, QObject* parent = nullptr,
                  const std::string& instance = {});
    ~MessageWindow() override;

    bool registered() const;
    HWND hwnd() const;
    QByteArray title() const;

    // Sees every message of every MessageWindow before its own handler does
    // (the application's native event filter). Returns the previous one.
    static Filter setApplicationFilter(Filter filter);

private:
    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);

    Filter handler_;
    std::unique_ptr<winmsg::Window> window_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace platform::qt
