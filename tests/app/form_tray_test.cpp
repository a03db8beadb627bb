// The tray icon as the main window uses it: its menu, its clicks.
#include "app/kestipdataform.h"
#include "app/trayicon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>

namespace {

void mouse(TrayIcon& tray, QEvent::Type type, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(), QPointF(30, 40), button, held, Qt::NoModifier);
    QApplication::sendEvent(&tray, &event);
}

TEST(FormTray, MenuShowsNormalThenQuits)
{
    KestIpDataForm form;
    ASSERT_NE(form.tray(), nullptr);
    EXPECT_TRUE(form.tray()->isShown());
    EXPECT_EQ(form.tray()->toolTip(), "Kest Ip Data\nNo Locked");
    QMenu* menu = form.trayPopup();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(form.tray()->popup(), menu);
    EXPECT_EQ(menu->parent(), nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), "Show Normal");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "&Quit");

    form.hide();
    actions[0]->trigger();
    EXPECT_TRUE(form.isVisible());
    actions[2]->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);

    // A left click on the icon brings the window back.
    mouse(*form.tray(), QEvent::MouseButtonPress, Qt::LeftButton);
    mouse(*form.tray(), QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_TRUE(form.isVisible());
}

// Without a tray host (the offscreen platform has none) no icon could bring a hidden
// window back: minimising leaves it in the taskbar.
TEST(FormTray, WithoutATrayAMinimisedWindowStaysReachable)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    KestIpDataForm form;
    form.show();
    form.showMinimized();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    EXPECT_TRUE(form.isVisible()) << "withdrawn with no icon to bring it back";
    EXPECT_TRUE(form.isMinimized());
}

TEST(TrayClicks, RightClickWithoutMenuDoesNothing)
{
    TrayIcon tray(QPixmap(16, 16), "tip");
    int emitted = 0;
    QObject::connect(&tray, &TrayIcon::clicked, [&] { ++emitted; });
    QObject::connect(&tray, &TrayIcon::doubleClicked, [&] { ++emitted; });
    mouse(tray, QEvent::MouseButtonPress, Qt::RightButton);
    mouse(tray, QEvent::MouseButtonRelease, Qt::RightButton);
    mouse(tray, QEvent::MouseButtonDblClick, Qt::RightButton);
    EXPECT_EQ(emitted, 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    QMenu menu;
    menu.addAction("entry");
    tray.setPopup(&menu);
    mouse(tray, QEvent::MouseButtonRelease, Qt::RightButton);
    EXPECT_TRUE(menu.isVisible()) << "with a menu the right click opens it";
    EXPECT_EQ(emitted, 0);
    menu.hide();
}

TEST(TrayClicks, LeftDoubleClickGivesClickedThenDoubleClicked)
{
    TrayIcon tray(QPixmap(16, 16), "tip");
    QStringList seen;
    QObject::connect(&tray, &TrayIcon::clicked,
                     [&](const QPoint& at) { seen << QString("clicked %1,%2").arg(at.x()).arg(at.y()); });
    QObject::connect(&tray, &TrayIcon::doubleClicked,
                     [&](const QPoint& at) { seen << QString("double %1,%2").arg(at.x()).arg(at.y()); });
    // The sequence a double click is made of.
    mouse(tray, QEvent::MouseButtonPress, Qt::LeftButton);
    mouse(tray, QEvent::MouseButtonRelease, Qt::LeftButton);
    mouse(tray, QEvent::MouseButtonDblClick, Qt::LeftButton);
    mouse(tray, QEvent::MouseButtonRelease, Qt::LeftButton);
    ASSERT_GE(seen.size(), 2);
    EXPECT_EQ(seen[0], "clicked 30,40");
    EXPECT_EQ(seen[1], "double 30,40");
    // Middle clicks and moves are ignored.
    seen.clear();
    mouse(tray, QEvent::MouseButtonRelease, Qt::MiddleButton);
    mouse(tray, QEvent::MouseMove, Qt::NoButton);
    EXPECT_TRUE(seen.isEmpty());
}

} // namespace
