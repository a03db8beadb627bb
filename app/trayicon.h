#pragma once
// TrayIcon: one icon with a tooltip in the desktop's notification area, on top
// of QSystemTrayIcon. Clicks arrive as mouse events and become signals: the
// release of a left click emits clicked(), a left double click doubleClicked(),
// a right click opens the popup menu. While shown, the icon puts itself back
// when the tray host (the panel) comes back after a restart.
// Without a tray host (e.g. the offscreen platform) the object keeps its state
// and handles mouse events all the same.
#include <QEvent>
#include <QMenu>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

class QMenu;
class QMouseEvent;
class QTimer;

class TrayIcon : public QObject {
    Q_OBJECT
    Q_PROPERTY(QPixmap icon READ icon WRITE setIcon)
    Q_PROPERTY(QString toolTip READ toolTip WRITE setToolTip)

public:
    static constexpr int MaxToolTipLength = 63;

    TrayIcon(const QPixmap& icon, const QString& toolTip, QMenu* popup = nullptr,
             QObject* parent = nullptr, const char* name = nullptr);
    ~TrayIcon() override;

    QPixmap icon() const { return icon_; }
    QString toolTip() const { return toolTip_; }
    QMenu* popup() const { return popup_; }   // not owned
    void setPopup(QMenu* popup) { popup_ = popup; }

    bool isShown() const { return tray_ != nullptr; }
    // Shown and a tray host (a panel) there to show it: the icon can bring a hidden
    // window back.
    bool isInTray() const { return tray_ != nullptr && trayHostAvailable(); }
    // The tray-side icon while shown, else null.
    const QSystemTrayIcon* trayIcon() const { return tray_; }
    // The tooltip as the tray shows it: the first MaxToolTipLength characters.
    QString shownToolTip() const { return toolTip_.left(MaxToolTipLength); }

public slots:
    void setIcon(const QPixmap& icon);
    void setToolTip(const QString& toolTip);
    void show();
    void hide();
    // Polled once a second: re-adds the icon when the tray host has come back.
    void checkTrayHost();

signals:
    // The tray host went away or came back while the icon is shown.
    void trayHostChanged(bool available);
    void clicked(const QPoint& globalPos);
    void doubleClicked(const QPoint& globalPos);

protected:
    virtual void mouseMoveEvent(QMouseEvent* event);
    virtual void mousePressEvent(QMouseEvent* event);
    virtual void mouseReleaseEvent(QMouseEvent* event);
    virtual void mouseDoubleClickEvent(QMouseEvent* event);
    bool event(QEvent* event) override;
    virtual bool trayHostAvailable() const;

private:
    void addToTray();
    void activated(QSystemTrayIcon::ActivationReason reason);
    void sendMouse(QEvent::Type type, Qt::MouseButton button);

    QPointer<QMenu> popup_;
    QPixmap icon_;
    QString toolTip_;
    QSystemTrayIcon* tray_ = nullptr;   // owned, null while hidden
    QTimer* hostPoll_ = nullptr;
    bool hostWasAvailable_ = false;
};
