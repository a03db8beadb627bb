#include "monitor/ledmeter.h"

#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>

namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication("monitor_widget_tests"));

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A shown meter without a frame, `width` pixels of contents.
void showPlain(LedMeter& meter, int width, int segmentWidth)
{
    meter.setFrameStyle(QFrame::NoFrame);
    meter.resize(width, 14);
    meter.show();
    QApplication::processEvents();
    meter.setLineWidth(segmentWidth);
}

TEST(LedMeter, DefaultsAndMinimumSize)
{
    LedMeter meter(nullptr, "ledMeterAGC");
    EXPECT_EQ(meter.objectName(), "ledMeterAGC");
    EXPECT_EQ(meter.range(), 100);
    EXPECT_EQ(meter.count(), 20);
    EXPECT_EQ(meter.lineWidth(), 1);
    EXPECT_EQ(meter.value(), 0);
    EXPECT_EQ(meter.litCount(), 0);
    EXPECT_EQ(meter.minimumHeight(), 14);
    EXPECT_EQ(meter.minimumWidth(), 2 * meter.frameWidth() + 40);
    EXPECT_EQ(meter.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(meter.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

TEST(LedMeter, ValueIsClampedAndRoundedUpToSegments)
{
    LedMeter meter;
    ASSERT_EQ(meter.count(), 20);
    const struct { int value, stored, lit; } cases[] = {
        {0, 0, 0}, {1, 1, 1}, {50, 50, 10}, {100, 100, 20}, {150, 100, 20}, {-5, 0, 0},
        {6, 6, 2}, {99, 99, 20},
    };
    for (const auto& c : cases) {
        meter.setValue(c.value);
        EXPECT_EQ(meter.value(), c.stored) << "value " << c.value;
        EXPECT_EQ(meter.litCount(), c.lit) << "value " << c.value;
    }
}

TEST(LedMeter, SettersKeepAtLeastOne)
{
    LedMeter meter;
    meter.setValue(50);
    meter.setRange(0);
    EXPECT_EQ(meter.range(), 1);
    EXPECT_EQ(meter.value(), 1);      // re-clamped to the new range
    EXPECT_EQ(meter.litCount(), 20);
    meter.setCount(0);
    EXPECT_EQ(meter.count(), 1);
    EXPECT_EQ(meter.litCount(), 1);
    meter.setLineWidth(0);
    EXPECT_EQ(meter.lineWidth(), 1);
}

TEST(LedMeter, PropertiesGoThroughTheSetters)
{
    LedMeter meter;
    EXPECT_TRUE(meter.setProperty("range", 10));
    EXPECT_TRUE(meter.setProperty("value", 25));
    EXPECT_EQ(meter.property("value").toInt(), 10);
    EXPECT_TRUE(meter.setProperty("lineWidth", 0));
    EXPECT_EQ(meter.property("lineWidth").toInt(), 1);
    EXPECT_TRUE(meter.setProperty("count", -3));
    EXPECT_EQ(meter.property("count").toInt(), 1);
    EXPECT_TRUE(QMetaObject::invokeMethod(&meter, "setValue", Q_ARG(int, 0)));
    EXPECT_EQ(meter.value(), 0);
}

TEST(LedMeter, BandEndsAreRunningTotals)
{
    LedMeter meter;
    meter.addBand(20, Qt::red);
    meter.addBand(20, Qt::yellow);
    meter.addBand(60, Qt::green);
    meter.setCount(50);
    ASSERT_EQ(meter.bands().size(), 3);
    EXPECT_EQ(meter.bands()[0].end, 10);
    EXPECT_EQ(meter.bands()[1].end, 20);
    EXPECT_EQ(meter.bands()[2].end, 50);
    meter.setCount(7);   // integer division per band: 1, 1, 4
    EXPECT_EQ(meter.bands()[0].end, 1);
    EXPECT_EQ(meter.bands()[1].end, 2);
    EXPECT_EQ(meter.bands()[2].end, 6);
}

TEST(LedMeter, SegmentCountFollowsTheContentsWidth)
{
    LedMeter meter;
    meter.setFrameStyle(QFrame::Box | QFrame::Plain);   // one-pixel frame
    meter.resize(101 + 2 * meter.frameWidth(), 16);
    meter.show();
    QApplication::processEvents();
    ASSERT_EQ(meter.contentsRect().width(), 101);
    meter.setLineWidth(1);
    EXPECT_EQ(meter.count(), 50);
    meter.setLineWidth(2);
    EXPECT_EQ(meter.count(), 33);
    meter.setCount(10);   // lasts until the next resize
    meter.resize(62 + 2 * meter.frameWidth(), 16);
    QApplication::processEvents();
    EXPECT_EQ(meter.count(), 20);
}

TEST(LedMeter, LitSegmentsTakeTheirBandColour)
{
    LedMeter meter;
    meter.setBackground(Qt::black);
    meter.addBand(20, Qt::red);
    meter.addBand(20, Qt::yellow);
    meter.addBand(60, Qt::green);
    showPlain(meter, 101, 1);
    ASSERT_EQ(meter.count(), 50);
    meter.setValue(80);   // 40 of 50 segments
    ASSERT_EQ(meter.litCount(), 40);

    const QImage image = meter.grab().toImage();
    const int y = image.height() / 2;
    auto at = [&](int x) { return QColor(image.pixel(x, y)); };
    EXPECT_EQ(at(0), QColor(Qt::black));                    // left margin
    EXPECT_EQ(at(1 + 2 * 0), QColor(Qt::red));
    EXPECT_EQ(at(2 + 2 * 0), QColor(Qt::black));            // one-pixel gap
    EXPECT_EQ(at(1 + 2 * 9), QColor(Qt::red));
    EXPECT_EQ(at(1 + 2 * 10), QColor(Qt::yellow));
    EXPECT_EQ(at(1 + 2 * 19), QColor(Qt::yellow));
    EXPECT_EQ(at(1 + 2 * 20), QColor(Qt::green));
    EXPECT_EQ(at(1 + 2 * 39), QColor(Qt::green));
    EXPECT_EQ(at(1 + 2 * 40), QColor(Qt::black));           // unlit
}

TEST(LedMeter, SegmentsPastTheLastBandKeepItsColour)
{
    LedMeter meter;
    meter.setBackground(Qt::black);
    meter.addBand(10, Qt::blue);
    meter.addBand(10, Qt::cyan);   // bands end at 5 and 10 of 50
    showPlain(meter, 101, 1);
    meter.setValue(100);
    const QImage image = meter.grab().toImage();
    const int y = image.height() / 2;
    EXPECT_EQ(QColor(image.pixel(1 + 2 * 4, y)), QColor(Qt::blue));
    EXPECT_EQ(QColor(image.pixel(1 + 2 * 5, y)), QColor(Qt::cyan));
    EXPECT_EQ(QColor(image.pixel(1 + 2 * 49, y)), QColor(Qt::cyan));
}

TEST(LedMeter, WithoutBandsUsesTheForegroundColour)
{
    LedMeter meter;
    meter.setBackground(Qt::black);
    QPalette pal = meter.palette();
    pal.setColor(meter.foregroundRole(), Qt::magenta);
    meter.setPalette(pal);
    showPlain(meter, 101, 1);
    meter.setValue(100);
    const QImage image = meter.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(1 + 2 * 49, image.height() / 2)), QColor(Qt::magenta));
}

TEST(LedMeter, RepaintsOnlyWhenTheLitCountChanges)
{
    LedMeter meter;
    showPlain(meter, 41, 1);   // 20 segments
    ASSERT_EQ(meter.count(), 20);
    meter.setValue(1);
    QApplication::processEvents();

    PaintCounter counter;
    meter.installEventFilter(&counter);
    for (int v = 2; v <= 5; ++v)   // all light one segment
        meter.setValue(v);
    meter.setValue(-1);            // clamped to 0: none lit, repaint
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 1);

    counter.paints = 0;
    meter.setValue(0);
    meter.setValue(-20);
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);

    meter.setValue(6);
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, 1);
}

} // namespace
