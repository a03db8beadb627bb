// The main window's once-a-second status poll: signal level, quality and lock
// from the tuner, volume and rate from the adapter's byte counter, the rate
// history and plot, the tray tooltip, and the automatic re-tune after a long
// loss of lock.
//
// Works on the main window's widgets (Ui::KestIpDataForm) and its tray icon.
// The form's timer calls poll(); nothing here starts a timer.
#pragma once

#include "monitor/mainratesource.h"
#include "monitor/rateplot.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>

class CBDAManager;
class QWidget;
class TrayIcon;
namespace Ui {
class KestIpDataForm;
}

// Where a poll reads from. A query answers 1 when it wrote the value; unset
// queries count as failed, an unset counter reads 0.
struct StatusSources {
    std::function<int(int32_t*)> signalStrength;
    std::function<int(int32_t*)> signalQuality;
    std::function<int(int32_t*)> demodLocked;
    std::function<uint32_t()> byteCount;
    std::function<uint64_t()> lostFrames; // frames the adapter could not pass on

    // The card's queries through the manager `manager()` answers (none: every
    // query fails) and the adapter counters of the decoder's adapterHandle.
    static StatusSources receiver(std::function<CBDAManager*()> manager);
};

// The form's side. Without all three flags no automatic re-tune happens.
struct StatusHooks {
    std::function<void(int)> setIndStatus;      // 0 unlocked, 1 locked, 2 locked with data
    std::function<void()> refreshActivePids;
    std::function<void()> reapplyTuning;        // applyTuning(false)
    std::function<bool()> tuningBusy;
    std::function<bool()> tuningRejected;
    std::function<bool()> lnbPowerOn;
};

class StatusPoller : public QObject, public MainRateSource {
    Q_OBJECT
public:
    static constexpr double kRetuneAfterMs = 10000;

    // `tray` may be null or go away before the poller (no tooltip then).
    StatusPoller(QWidget* form, const Ui::KestIpDataForm& ui, TrayIcon* tray, StatusSources sources,
                 StatusHooks hooks);

    // The "Speed" curve and average marker on statusPlot over this history.
    void setupPlot();
    // Deletes the curve and the marker (the form's teardown).
    void releasePlotItems();

    // Starting point of the volume: the counter as it reads at bring-up.
    void readInitialByteCount();
    // One status tick.
    void poll();
    // A completed tuning restarts the count towards the next re-tune.
    void tuningCompleted() { unlockedMs_ = 0; }

    const RateHistory& rateHistory() const { return history_; }
    const RateHistory& adapterRateHistory() const override { return history_; }
    uint64_t adapterLostFrames() const override { return lostFrames_; }
    // Bytes received since bring-up plus the counter's first reading, 64 bits.
    qint64 lastByteCount() const { return lastByteCount_; }
    double unlockedMs() const { return unlockedMs_; }
    quint32 lastRate() const { return lastRate_; }
    bool lastLocked() const { return lastLocked_; }
    int32_t lastStrength() const { return lastStrength_; }
    int32_t lastQuality() const { return lastQuality_; }

private:
    bool retuneAllowed() const;

    QWidget* form_;
    const Ui::KestIpDataForm& ui_;
    QPointer<TrayIcon> tray_;
    StatusSources sources_;
    StatusHooks hooks_;
    StatusPlotItems plotItems_;
    RateHistory history_;
    qint64 lastByteCount_ = 0;
    uint32_t lastCounter_ = 0; // the adapter's 32-bit counter as last read
    double unlockedMs_ = 0;
    quint32 lastRate_ = 0;
    bool lastLocked_ = false;
    int32_t lastStrength_ = 0;
    int32_t lastQuality_ = 0;
    uint64_t lostFrames_ = 0;
};
