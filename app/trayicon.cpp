#include "app/trayicon.h"

#include <QCursor>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

TrayIcon::TrayIcon(const QPixmap& icon, const QString& toolTip, QMenu* popup, QObject* parent,
                   const char* name)
    : QObject(parent), popup_(popup), icon_(icon), toolTip_(toolTip),
      hostPoll_(new QTimer(this))
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    hostPoll_->setInterval(1000);
    connect(hostPoll_, &QTimer::timeout, this, &TrayIcon::checkTrayHost);
}

TrayIcon::~TrayIcon()
{
    hide();
}

void TrayIcon::setIcon(const QPixmap& icon)
{
    icon_ = icon;
    if (tray_)
        tray_->setIcon(QIcon(icon_));
}

void TrayIcon::setToolTip(const QString& toolTip)
{
    toolTip_ = toolTip;
    if (tray_)
        tray_->setToolTip(shownToolTip());
}

void TrayIcon::show()
{
    if (tray_)
        return;
    addToTray();
    hostWasAvailable_ = trayHostAvailable();
    hostPoll_->start();
}

void TrayIcon::hide()
{
    if (!tray_)
        return;
    hostPoll_->stop();
    tray_->hide();
    delete tray_;
    tray_ = nullptr;
}

void TrayIcon::addToTray()
{
    delete tray_;
    tray_ = new QSystemTrayIcon(QIcon(icon_), this);
    tray_->setToolTip(shownToolTip());
    connect(tray_, &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    if (trayHostAvailable())
        tray_->show();
}

bool TrayIcon::trayHostAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::checkTrayHost()
{
    const bool available = trayHostAvailable();
    if (tray_ && available && !hostWasAvailable_)
        addToTray();   // the host is new: announce the icon again
    const bool changed = available != hostWasAvailable_;
    hostWasAvailable_ = available;
    if (tray_ && changed)
        emit trayHostChanged(available);
}

// The tray reports whole clicks; they are replayed as the mouse events a
// click is made of.
void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        sendMouse(QEvent::MouseButtonPress, Qt::LeftButton);
        sendMouse(QEvent::MouseButtonRelease, Qt::LeftButton);
        break;
    case QSystemTrayIcon::DoubleClick:
        sendMouse(QEvent::MouseButtonDblClick, Qt::LeftButton);
        break;
    case QSystemTrayIcon::Context:
        sendMouse(QEvent::MouseButtonRelease, Qt::RightButton);
        break;
    case QSystemTrayIcon::MiddleClick:
        sendMouse(QEvent::MouseButtonPress, Qt::MiddleButton);
        sendMouse(QEvent::MouseButtonRelease, Qt::MiddleButton);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void TrayIcon::sendMouse(QEvent::Type type, Qt::MouseButton button)
{
    const QPoint pos = QCursor::pos();
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(), QPointF(pos), button, buttons, Qt::NoModifier);
    event.accept();
    QCoreApplication::sendEvent(this, &event);
}

bool TrayIcon::event(QEvent* event)
{
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseMove: mouseMoveEvent(mouse); return true;
    case QEvent::MouseButtonPress: mousePressEvent(mouse); return true;
    case QEvent::MouseButtonRelease: mouseReleaseEvent(mouse); return true;
    case QEvent::MouseButtonDblClick: mouseDoubleClickEvent(mouse); return true;
    default: return QObject::event(event);
    }
}

void TrayIcon::mouseMoveEvent(QMouseEvent* event)
{
    event->ignore();
}

void TrayIcon::mousePressEvent(QMouseEvent* event)
{
    event->ignore();
}

void TrayIcon::mouseReleaseEvent(QMouseEvent* event)
{
    switch (event->button()) {
    case Qt::LeftButton:
        emit clicked(event->globalPos());
        break;
    case Qt::RightButton:
        if (popup_) {
            popup_->activateWindow();
            popup_->popup(event->globalPos());
            popup_->activateWindow();
        }
        break;
    default:
        break;
    }
    event->ignore();
}

void TrayIcon::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked(event->globalPos());
    event->ignore();
}
