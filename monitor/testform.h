#pragma once
// TestForm: the statistics window. Once a second it shows the decoder's error
// counters, every PID seen in the stream with its packet count and share, and
// the rates of the selected PIDs and of the data passed to the adapter over
// the last four minutes. It only reads the decoder and the main window.
#include "monitor/rateplot.h"
#include "ui_testform.h"   // generated from testform.ui

#include <QDialog>

#include <memory>

struct DecoderState;
class MainRateSource;
class QKeyEvent;
class QTimerEvent;

class TestForm : public QDialog, public Ui::TestForm {
    Q_OBJECT

public:
    // `rates` and `decoder` must outlive the window.
    TestForm(QWidget* parent, const MainRateSource& rates, const DecoderState& decoder);
    TestForm(QWidget* parent, const MainRateSource& rates);   // the process-wide decoder
    ~TestForm() override;

    // Ctrl+T in the main window: runs the window modally with `mainWindow` as
    // parent and deletes it when it closes. Returns the dialog's result.
    static int openFor(QWidget* mainWindow, const MainRateSource& rates);
    // Ctrl+T with no other modifier (Ctrl+Shift+T is not it).
    static bool isOpenShortcut(const QKeyEvent& event);

    // Brings the PID list up to date with the decoder's per-PID packet counters.
    void updatePidList();
    // One update of everything shown, as the one-second timer does it.
    void tick();

    const RateHistory& pidRates() const { return pidRateHistory; }
    const StatisticsPlotItems& plotItems() const { return plot; }

public slots:
    virtual void languageChange();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    quint32 activePidRateSample();

    const MainRateSource& mainRates;
    const DecoderState& decoder;
    // pidPackets of each PID at the last list update.
    std::unique_ptr<quint64[]> pidSnapshot;
    // Selected-PID bytes at the previous tick; 0 until set.
    quint64 byteReference = 0;
    RateHistory pidRateHistory;
    StatisticsPlotItems plot;
    int timerId = 0;
};
