// The QApplication these plots need is set up by ledmeter_test.cpp, which is
// linked into the same test program.
#include "monitor/rateplot.h"

#include <gtest/gtest.h>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>

#include <QLocale>

#include <initializer_list>

namespace {

void pushAll(RateHistory& history, QwtPlotMarker* marker, std::initializer_list<quint32> samples)
{
    for (quint32 sample : samples)
        pushRateSample(history, marker, sample);
}

struct AxisRange {
    double low, high, step;
};

// The scale division is worked out when the plot lays out its axes.
AxisRange range(QwtPlot& plot, int axis)
{
    plot.updateAxes();
    const QwtScaleDiv& div = plot.axisScaleDiv(axis);
    const QList<double> ticks = div.ticks(QwtScaleDiv::MajorTick);
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 0;
    return {div.lowerBound(), div.upperBound(), step};
}

TEST(RateHistory, AllZeroKeepsStatisticsZeroAndMarkerHidden)
{
    RateHistory history;
    QwtPlotMarker marker;
    marker.show();
    for (int i = 0; i < 300; ++i)
        pushRateSample(history, &marker, 0);
    EXPECT_EQ(history.peak, 0u);
    EXPECT_EQ(history.minimum, 0u);
    EXPECT_EQ(history.average, 0u);
    EXPECT_FALSE(marker.isVisible());
}

TEST(RateHistory, NewSampleCountsFromTheNextPush)
{
    RateHistory history;
    QwtPlotMarker marker;
    marker.hide();
    pushRateSample(history, &marker, 100);
    EXPECT_EQ(history.samples[0], 100);
    EXPECT_EQ(history.peak, 0u);
    EXPECT_EQ(history.average, 0u);
    EXPECT_FALSE(marker.isVisible());

    pushRateSample(history, &marker, 0);
    EXPECT_EQ(history.samples[0], 0);
    EXPECT_EQ(history.samples[1], 100);
    EXPECT_EQ(history.peak, 100u);
    EXPECT_EQ(history.minimum, 100u);
    EXPECT_EQ(history.average, 100u);
    EXPECT_TRUE(marker.isVisible());
    EXPECT_EQ(marker.yValue(), 100);
}

TEST(RateHistory, MinimumAndAverageIgnoreZeros)
{
    RateHistory history;
    pushAll(history, nullptr, {0, 50, 100, 0});
    EXPECT_EQ(history.peak, 100u);
    EXPECT_EQ(history.minimum, 50u);
    EXPECT_EQ(history.average, 75u);

    // Integer average: (1 + 2) / 2.
    RateHistory odd;
    pushAll(odd, nullptr, {1, 2, 0});
    EXPECT_EQ(odd.average, 1u);
    EXPECT_EQ(odd.minimum, 1u);
}

TEST(RateHistory, OldestSampleFallsOutAfter241Pushes)
{
    RateHistory history;
    QwtPlotMarker marker;
    pushRateSample(history, &marker, 500);
    for (int i = 0; i < 239; ++i)
        pushRateSample(history, &marker, 10);
    // 500 sits at index 239, inside the statistics.
    pushRateSample(history, &marker, 10);
    EXPECT_EQ(history.samples[240], 500);
    EXPECT_EQ(history.peak, 500u);
    pushRateSample(history, &marker, 10);
    EXPECT_EQ(history.peak, 10u);
    EXPECT_EQ(history.minimum, 10u);
    EXPECT_EQ(history.average, 10u);

    // The average falling back to 0 hides the marker again.
    for (int i = 0; i < 241; ++i)
        pushRateSample(history, &marker, 0);
    EXPECT_EQ(history.average, 0u);
    EXPECT_FALSE(marker.isVisible());
}

TEST(RateAxis, TopIsTheFirstPowerAbovePeak)
{
    EXPECT_EQ(rateAxisTop(0), 32u);
    EXPECT_EQ(rateAxisTop(31), 32u);
    EXPECT_EQ(rateAxisTop(32), 64u);
    EXPECT_EQ(rateAxisTop(255), 256u);
    EXPECT_EQ(rateAxisTop(65535), 65536u);
    EXPECT_EQ(rateAxisTop(65536), 0u);
    EXPECT_EQ(rateAxisTop(70000), 0u);
}

TEST(RateAxis, ScaleSetsRangeAndStepOrKeepsIt)
{
    QwtPlot plot;
    // Applied in this order: the last peak is too large and keeps the range before it.
    const struct {
        quint32 peak;
        double high, step;
    } cases[] = {{32, 64, 8}, {0, 32, 4}, {40000, 65536, 8192}, {70000, 65536, 8192}};
    for (const auto& c : cases) {
        rateAxisScale(&plot, QwtPlot::yLeft, c.peak);
        const AxisRange r = range(plot, QwtPlot::yLeft);
        EXPECT_EQ(r.low, 0) << c.peak;
        EXPECT_EQ(r.high, c.high) << c.peak;
        EXPECT_EQ(r.step, c.step) << c.peak;
    }
}

TEST(RatePlot, StatusPlotAxesMarkerAndCurveBoundInPlace)
{
    QwtPlot plot;
    RateHistory history;
    const StatusPlotItems items = setupStatusPlot(&plot, history);

    EXPECT_FALSE(plot.autoReplot());
    EXPECT_FALSE(plot.axisEnabled(QwtPlot::yRight));
    EXPECT_FALSE(plot.axisEnabled(QwtPlot::xBottom));
    EXPECT_EQ(plot.axisTitle(QwtPlot::yLeft).text(), "Rate");
    const AxisRange left = range(plot, QwtPlot::yLeft);
    EXPECT_EQ(left.high, 256);
    EXPECT_EQ(left.step, 32);
    // Newest sample at the right edge.
    const AxisRange bottom = range(plot, QwtPlot::xBottom);
    EXPECT_EQ(bottom.low, 240);
    EXPECT_EQ(bottom.high, 0);
    EXPECT_EQ(bottom.step, -20);
    EXPECT_EQ(plot.itemList(QwtPlotItem::Rtti_PlotGrid).size(), 1);

    EXPECT_EQ(items.speedCurve->title().text(), "Speed");
    EXPECT_FALSE(items.averageMarker->isVisible());
    EXPECT_EQ(items.averageMarker->lineStyle(), QwtPlotMarker::HLine);

    // The curve reads the history where it is: a push shows without rebinding.
    pushAll(history, items.averageMarker, {123, 7});
    EXPECT_EQ(items.speedCurve->dataSize(), size_t(kRateHistorySize));
    EXPECT_EQ(items.speedCurve->sample(0).y(), 7);
    EXPECT_EQ(items.speedCurve->sample(1).y(), 123);
    EXPECT_EQ(items.speedCurve->sample(240).x(), 240);
}

// The axes show plain numbers, also in a language that groups thousands.
TEST(RatePlot, AxisLabelsHaveNoThousandsSeparators)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QwtPlot status, statistics;
    RateHistory a, b, c;
    setupStatusPlot(&status, a);
    setupStatisticsPlot(&statistics, b, c);
    for (QwtPlot* plot : {&status, &statistics}) {
        for (int axis : {QwtPlot::yLeft, QwtPlot::yRight}) {
            const QwtScaleDraw* draw = plot->axisScaleDraw(axis);
            EXPECT_EQ(draw->label(4096).text(), "4096");
            EXPECT_EQ(draw->label(65536).text(), "65536");
            EXPECT_EQ(draw->label(32).text(), "32");
        }
    }
    QLocale::setDefault(previous);
}

TEST(RatePlot, StatisticsPlotTwoAxesTwoHistories)
{
    QwtPlot plot;
    RateHistory pid, mpe;
    const StatisticsPlotItems items = setupStatisticsPlot(&plot, pid, mpe);

    EXPECT_TRUE(plot.axisEnabled(QwtPlot::yRight));
    EXPECT_EQ(plot.axisTitle(QwtPlot::yLeft).text(), "Active PIDs rate");
    EXPECT_EQ(plot.axisTitle(QwtPlot::yRight).text(), "MPE filter rate");
    for (int axis : {QwtPlot::yLeft, QwtPlot::yRight}) {
        const AxisRange r = range(plot, axis);
        EXPECT_EQ(r.high, 32);
        EXPECT_EQ(r.step, 4);
    }
    EXPECT_EQ(items.pidCurve->yAxis(), QwtPlot::yLeft);
    EXPECT_EQ(items.mpeCurve->yAxis(), QwtPlot::yRight);
    EXPECT_EQ(items.pidAverageMarker->yAxis(), QwtPlot::yLeft);
    EXPECT_EQ(items.mpeAverageMarker->yAxis(), QwtPlot::yRight);
    EXPECT_FALSE(items.pidAverageMarker->isVisible());
    EXPECT_FALSE(items.mpeAverageMarker->isVisible());

    mpe.samples[5] = 42;
    pid.samples[5] = 17;
    EXPECT_EQ(items.mpeCurve->sample(5).y(), 42);
    EXPECT_EQ(items.pidCurve->sample(5).y(), 17);
}

} // namespace
