#include "monitor/rateplot.h"

#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QLocale>
#include <QPen>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_draw.h>
#include <qwt_text.h>

void placeAverageMarker(QwtPlotMarker* marker, quint32 average)
{
    if (!marker)
        return;
    if (average > 0) {
        marker->setYValue(average);
        if (!marker->isVisible())
            marker->show();
    } else if (marker->isVisible()) {
        marker->hide();
    }
}

void pushRateSample(RateHistory& history, QwtPlotMarker* marker, quint32 sample)
{
    quint32 peak = 0;
    quint32 minimum = 0;
    // 64 bits: 240 samples cannot wrap it, whatever the rate.
    quint64 sum = 0;
    quint32 count = 0;
    for (int i = kRateHistorySize - 1; i >= 1; --i) {
        const double moved = history.samples[i - 1];
        history.samples[i] = moved;
        const quint32 value = static_cast<quint32>(moved);
        peak = qMax(peak, value);
        if (value > 0) {
            if (minimum == 0 || minimum > value)
                minimum = value;
            sum += value;
            ++count;
        }
    }
    history.samples[0] = sample;
    history.peak = peak;
    history.minimum = minimum;
    history.average = count > 0 ? static_cast<quint32>(sum / count) : 0;
    placeAverageMarker(marker, history.average);
}

quint32 rateAxisTop(quint32 peak)
{
    for (quint32 top = 32; top <= 65536; top *= 2) {
        if (top > peak)
            return top;
    }
    return 0;
}

void rateAxisScale(QwtPlot* plot, int axis, quint32 peak)
{
    const quint32 top = rateAxisTop(peak);
    if (top > 0)
        plot->setAxisScale(axis, 0, top, top / 8);
}

const double* rateXData()
{
    static const struct XData {
        double x[kRateHistorySize];
        XData()
        {
            for (int i = 0; i < kRateHistorySize; ++i)
                x[i] = i;
        }
    } data;
    return data.x;
}

namespace {

QwtText axisTitle(const char* context, const char* text, int pointSize)
{
    QwtText title(QCoreApplication::translate(context, text));
    title.setFont(QFont("Helvetica", pointSize, QFont::Bold));
    return title;
}

// Axis labels as plain numbers: Qwt writes them the way the locale writes
// numbers, which in many languages groups thousands ("4,096").
class PlainNumberScaleDraw : public QwtScaleDraw {
public:
    PlainNumberScaleDraw() { locale_.setNumberOptions(QLocale::OmitGroupSeparator); }
    QwtText label(double value) const override { return QwtText(locale_.toString(value)); }

private:
    QLocale locale_;
};

// What both plots share: black canvas with a thin frame, dotted dark green
// grid, small axis labels in plain numbers, the bottom axis hidden and
// running from 240 down to 0 so that the newest sample is at the right edge.
void setupCommon(QwtPlot* plot)
{
    for (int axis : {QwtPlot::yLeft, QwtPlot::yRight, QwtPlot::xBottom})
        plot->setAxisScaleDraw(axis, new PlainNumberScaleDraw);
    plot->setAutoReplot(false);
    plot->setCanvasBackground(QBrush(Qt::black));
    if (auto* frame = qobject_cast<QFrame*>(plot->canvas()))
        frame->setLineWidth(1);

    auto* grid = new QwtPlotGrid;
    grid->enableX(true);
    grid->enableY(true);
    grid->enableXMin(false);
    grid->enableYMin(false);
    grid->setMajorPen(QPen(Qt::darkGreen, 0, Qt::DotLine));
    grid->attach(plot);

    const QFont labels("Helvetica", 8, QFont::Normal);
    plot->setAxisFont(QwtPlot::yLeft, labels);
    plot->setAxisFont(QwtPlot::yRight, labels);
    plot->setAxisFont(QwtPlot::xBottom, labels);

    plot->enableAxis(QwtPlot::xBottom, false);
    plot->setAxisScale(QwtPlot::xBottom, 240, 0, 20);
}

QwtPlotCurve* addCurve(QwtPlot* plot, const char* context, const char* title,
                       const QColor& colour, int yAxis, const RateHistory& history)
{
    auto* curve = new QwtPlotCurve(QCoreApplication::translate(context, title));
    curve->setPen(QPen(colour, 1, Qt::SolidLine));
    curve->setYAxis(yAxis);
    // Qwt 6 clips per curve rather than in the painter: keep it on, the
    // curves are drawn once a second into a small canvas.
    curve->setPaintAttribute(QwtPlotCurve::ClipPolygons, true);
    curve->setRawSamples(rateXData(), history.samples, kRateHistorySize);
    curve->attach(plot);
    return curve;
}

QwtPlotMarker* addAverageMarker(QwtPlot* plot, const QColor& colour, int yAxis)
{
    auto* marker = new QwtPlotMarker;
    marker->setLineStyle(QwtPlotMarker::HLine);
    marker->setLinePen(QPen(colour, 1, Qt::DashDotLine));
    marker->setLabelAlignment(Qt::AlignRight | Qt::AlignBottom);
    marker->setYAxis(yAxis);
    marker->hide();
    marker->attach(plot);
    return marker;
}

} // namespace

StatusPlotItems setupStatusPlot(QwtPlot* plot, const RateHistory& history)
{
    static const char context[] = "KestIpDataForm";
    setupCommon(plot);
    plot->setAxisTitle(QwtPlot::yLeft, axisTitle(context, QT_TRANSLATE_NOOP("KestIpDataForm", "Rate"), 10));
    plot->enableAxis(QwtPlot::yRight, false);
    plot->setAxisScale(QwtPlot::yLeft, 0, 256, 32);

    StatusPlotItems items;
    items.speedCurve = addCurve(plot, context, QT_TRANSLATE_NOOP("KestIpDataForm", "Speed"), Qt::green,
                                QwtPlot::yLeft, history);
    items.averageMarker = addAverageMarker(plot, Qt::cyan, QwtPlot::yLeft);
    return items;
}

StatisticsPlotItems setupStatisticsPlot(QwtPlot* plot, const RateHistory& pidHistory,
                                        const RateHistory& mpeHistory)
{
    static const char context[] = "TestForm";
    static const char pidTitle[] = QT_TRANSLATE_NOOP("TestForm", "Active PIDs rate");
    static const char mpeTitle[] = QT_TRANSLATE_NOOP("TestForm", "MPE filter rate");
    setupCommon(plot);
    plot->setAxisTitle(QwtPlot::yLeft, axisTitle(context, pidTitle, 8));
    plot->enableAxis(QwtPlot::yRight, true);
    plot->setAxisTitle(QwtPlot::yRight, axisTitle(context, mpeTitle, 8));
    plot->setAxisScale(QwtPlot::yLeft, 0, 32, 4);
    plot->setAxisScale(QwtPlot::yRight, 0, 32, 4);

    StatisticsPlotItems items;
    items.pidCurve = addCurve(plot, context, pidTitle, Qt::cyan, QwtPlot::yLeft, pidHistory);
    items.mpeCurve = addCurve(plot, context, mpeTitle, Qt::green, QwtPlot::yRight, mpeHistory);
    items.pidAverageMarker = addAverageMarker(plot, Qt::cyan, QwtPlot::yLeft);
    items.mpeAverageMarker = addAverageMarker(plot, Qt::green, QwtPlot::yRight);
    return items;
}
