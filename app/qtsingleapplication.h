// QApplication that lets a second start of the program find the running one:
// the first instance listens through a hidden window titled with the
// application id, the second sends it a message (WM_COPYDATA) and ends. A named
// copy (instance) meets its own kind in its own window-message folder.
//
// Start-up:
//     QtSingleApplication app("KestIPData", argc, argv);
//     if (app.sendMessage("Are you there?", 5000)
//         || !app.startListening(true)) { // lost the race to a copy started with us
//         if (!app.listeningError().isEmpty()) ... // no copy runs: cannot listen
//         qWarning("Kest-IPData is already running");
//         return 0;
//     }
//     ... app.setMainWidget(&form); // a second start then brings it to the front
#pragma once

#include "platform/winmsg/winmsg.h"

#include <QApplication>
#include <QPointer>
#include <QString>

#include <string>

namespace platform::qt {
class MessageWindow;
}

class QtSingleApplication : public QApplication {
    Q_OBJECT
public:
    QtSingleApplication(const QString& id, int& argc, char** argv, const QString& instance = {});
    ~QtSingleApplication() override;

    QString applicationId() const;
    QWidget* listenerWindow() const;

    // Creates the listener once (later calls change nothing). With activate, a
    // received message brings the main widget to the front. Returns whether this
    // instance holds the listener: false when another instance holds the id, or
    // when no listener can be made at all (then listeningError() says why).
    bool startListening(bool activate);
    bool isListening() const;
    QString listeningError() const;

    // The widget activateMainWidget() brings to the front (Qt 5 keeps none itself).
    void setMainWidget(QWidget* widget);
    QWidget* mainWidget() const;

    // Sees the native messages of the application; true = consumed.
    virtual bool winEventFilter(MSG* message);

public slots:
    // True when a running instance was found and took the message within the timeout.
    bool sendMessage(const QString& message, int timeout = 5000);
    // Shows the main widget if hidden or minimised, raises and activates it.
    virtual void activateMainWidget();

signals:
    void messageReceived(const QString& message);

private:
    QString applicationId_;
    std::string instance_;
    QString listeningError_;
    QWidget* listenerWindow_ = nullptr;
    platform::qt::MessageWindow* listener_ = nullptr;
    QPointer<QWidget> mainWidget_;
};
