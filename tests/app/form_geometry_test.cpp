#include "app/kestipdataform_geometry.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace {

const QRect desktop(0, 0, 1280, 1024);

WindowPlacement place(const QRect& saved, bool maximised = false)
{
    SavedGeometry geometry;
    geometry.rect = saved;
    geometry.maximised = maximised;
    return placeMainWindow(desktop, geometry);
}

TEST(FormGeometry, NoSavedGeometryOpensAtThePrimaryScreensCorner)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("empty.conf"), QSettings::IniFormat);
    const QRect primary(1280, 0, 1920, 1080);
    const SavedGeometry saved = readSavedGeometry(settings, primary);
    EXPECT_EQ(saved.rect, QRect(1280, 0, 439, 592));
    EXPECT_FALSE(saved.maximised);
    const WindowPlacement p = placeMainWindow(QRect(0, 0, 3200, 1080), saved);
    EXPECT_FALSE(p.maximised);
    EXPECT_TRUE(p.move);
    EXPECT_EQ(p.position, QPoint(1280, 0));
    EXPECT_EQ(p.size, QSize(439, 592));
}

TEST(FormGeometry, SavedKeysAreRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Kest-IPData.conf");
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue("Geometry/MainwindowX", 100);
        settings.setValue("Geometry/MainwindowY", -20);
        settings.setValue("Geometry/MainwindowWidth", 500);
        settings.setValue("Geometry/MainwindowHeight", 600);
        settings.setValue("Geometry/MainwindowMaximized", true);
    }
    QSettings settings(path, QSettings::IniFormat);
    const SavedGeometry saved = readSavedGeometry(settings, desktop);
    EXPECT_EQ(saved.rect, QRect(100, -20, 500, 600));
    EXPECT_TRUE(saved.maximised);
}

TEST(FormGeometry, VisiblePositionIsKept)
{
    const WindowPlacement p = place(QRect(200, 100, 439, 592));
    EXPECT_TRUE(p.move);
    EXPECT_EQ(p.position, QPoint(200, 100));
    EXPECT_EQ(p.size, QSize(439, 592));
}

TEST(FormGeometry, MostlyOffScreenKeepsTheSizeOnly)
{
    // 10 x 592 of 400 x 592 visible: 1/40.
    const WindowPlacement p = place(QRect(1270, 100, 400, 592));
    EXPECT_FALSE(p.move);
    EXPECT_EQ(p.size, QSize(400, 592));
    EXPECT_FALSE(place(QRect(5000, 5000, 400, 592)).move) << "entirely off the desktop";
    EXPECT_FALSE(place(QRect(-400, 100, 400, 592)).move) << "just left of it";
}

TEST(FormGeometry, ExactlyOneTwentiethIsTooLittle)
{
    // 400 x 500 = 200000; a twentieth is 10000 = 20 x 500.
    EXPECT_FALSE(place(QRect(1260, 100, 400, 500)).move);
    EXPECT_TRUE(place(QRect(1259, 100, 400, 500)).move);
    // Integer division: 401 x 500 / 20 = 10025; 21 x 500 = 10500 is more.
    EXPECT_TRUE(place(QRect(1259, 100, 401, 500)).move);
    EXPECT_FALSE(place(QRect(1260, 100, 401, 500)).move);
}

TEST(FormGeometry, MaximisedIgnoresPositionAndSize)
{
    const WindowPlacement p = place(QRect(5000, 5000, 10, 10), true);
    EXPECT_TRUE(p.maximised);
    EXPECT_FALSE(p.move);
}

} // namespace
