#include "app/embeddedimagefactory.h"
#include "app/trayicon.h"

#include <QApplication>
#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

namespace {

QApplication& app()
{
    return offscreenApplication("app_widget_tests");
}

TEST(EmbeddedImages, TableGivesSizesDepthsAndAlphaByExactName)
{
    app();
    EmbeddedImageFactory factory;
    const QImage logo = factory.data("iplogo2.png");
    EXPECT_EQ(logo.size(), QSize(50, 470));
    const QImage lock = factory.data("lock2.png");
    EXPECT_EQ(lock.size(), QSize(22, 22));
    EXPECT_TRUE(lock.hasAlphaChannel());
    const QImage icon = factory.data("KestIcoSmall.png");
    EXPECT_EQ(icon.size(), QSize(16, 16));
    EXPECT_EQ(icon.depth(), 8);
    EXPECT_EQ(factory.data("greenLegend.png").colorCount(), 3);
    EXPECT_TRUE(factory.data("Lock2.png").isNull()) << "names must be case-sensitive";
}

TEST(EmbeddedImages, EachImageIsUncompressedAtMostOnce)
{
    app();
    EmbeddedImageFactory factory;
    factory.data("lock2.png");
    factory.data("lock2.png");
    factory.pixmap("lock2.png");
    EXPECT_EQ(factory.uncompressCount(), 1);
    factory.data("nolock2.png");
    EXPECT_EQ(factory.uncompressCount(), 2);
}

TEST(EmbeddedImages, UnknownNamesFallThroughToFiles)
{
    app();
    EmbeddedImageFactory factory;
    EXPECT_TRUE(factory.data("splash.png").isNull());
    EXPECT_TRUE(factory.image("no-such-file-here.png").isNull());
    EXPECT_FALSE(factory.image(QString(KEST_SOURCE_DIR) + "/app/images/lock2.png").isNull());
}

TEST(TrayIcon, ToolTipIsCutTo63Characters)
{
    app();
    TrayIcon tray(QPixmap(16, 16), QString());
    tray.setToolTip(QString(100, QChar('x')));
    EXPECT_EQ(tray.toolTip().size(), 100);
    EXPECT_EQ(tray.shownToolTip().size(), 63);
    tray.setToolTip("short");
    EXPECT_EQ(tray.shownToolTip(), "short");
}

} // namespace
