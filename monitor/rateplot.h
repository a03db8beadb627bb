#pragma once
// Receive-rate history and the two Qwt rate plots: the main window's
// statusPlot and the statistics window's statusTs.
//
// A history holds the last 241 one-second samples in kbit/s (1 kbit = 1024
// bits), index 0 the newest. The plot curves are bound to the sample arrays
// without copying, so a history must stay where it is while a plot shows it;
// the plots redraw only when replot() is called.
#include <QtGlobal>

class QwtPlot;
class QwtPlotCurve;
class QwtPlotMarker;

constexpr int kRateHistorySize = 241;

struct RateHistory {
    double samples[kRateHistorySize] = {};
    quint32 peak = 0;     // largest of samples 1..240
    quint32 minimum = 0;  // smallest non-zero of samples 1..240, 0 if none
    quint32 average = 0;  // mean of the non-zero samples 1..240, 0 if none
};

// Shifts the history by one and stores `sample` at index 0. The statistics
// are recomputed over the samples before the new one, which therefore counts
// from the next push on. `marker` (may be null) moves to the average and is
// shown, or is hidden when the average is 0.
void pushRateSample(RateHistory& history, QwtPlotMarker* marker, quint32 sample);

// Puts `marker` at `average` and shows it, or hides it for an average of 0.
void placeAverageMarker(QwtPlotMarker* marker, quint32 average);

// Sets the axis to 0 .. P, major step P / 8, P the smallest of 32, 64, ...,
// 65536 above `peak`. From 65536 on the axis keeps its range.
void rateAxisScale(QwtPlot* plot, int axis, quint32 peak);
// The P of rateAxisScale, 0 when the axis would be left unchanged.
quint32 rateAxisTop(quint32 peak);

// 0, 1, ..., 240: the x values of every rate curve.
const double* rateXData();

// Items of the main window's plot; the plot owns them.
struct StatusPlotItems {
    QwtPlotCurve* speedCurve = nullptr;
    QwtPlotMarker* averageMarker = nullptr;
};

// The main window's plot: "Speed" curve over `history` on the left axis,
// "Rate" axis 0 .. 256, the average marker hidden.
StatusPlotItems setupStatusPlot(QwtPlot* plot, const RateHistory& history);

// Items of the statistics window's plot; the plot owns them.
struct StatisticsPlotItems {
    QwtPlotCurve* pidCurve = nullptr;
    QwtPlotCurve* mpeCurve = nullptr;
    QwtPlotMarker* pidAverageMarker = nullptr;
    QwtPlotMarker* mpeAverageMarker = nullptr;
};

// The statistics window's plot: "Active PIDs rate" over `pidHistory` on the
// left axis, "MPE filter rate" over the main window's `mpeHistory` on the
// right axis, both 0 .. 32, both markers hidden.
StatisticsPlotItems setupStatisticsPlot(QwtPlot* plot, const RateHistory& pidHistory,
                                        const RateHistory& mpeHistory);
