#include "app/status_poller.h"

#include "app/trayicon.h"
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "monitor/ledmeter.h"
#include "tuner/bdamanager.h"
#include "ui_kestipdataform.h"

#include <QLabel>
#include <QWidget>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr uint32_t kBytesPerKilobit = 128; // 1024 bits
constexpr double kPollMs = 1000;

int query(const std::function<int(int32_t*)>& source, int32_t* value)
{
    return source ? source(value) : 0;
}

QString centred(int value) { return QString::asprintf("<p align=\"center\">%d</p>", value); }

} // namespace

StatusSources StatusSources::receiver(std::function<CBDAManager*()> manager)
{
    StatusSources s;
    s.signalStrength = [manager](int32_t* v) {
        CBDAManager* m = manager ? manager() : nullptr;
        return m != nullptr ? m->GetSignalStrength(v) : 0;
    };
    s.signalQuality = [manager](int32_t* v) {
        CBDAManager* m = manager ? manager() : nullptr;
        return m != nullptr ? m->GetSignalQuality(v) : 0;
    };
    s.demodLocked = [manager](int32_t* v) {
        CBDAManager* m = manager ? manager() : nullptr;
        return m != nullptr ? m->GetDemodLocked(v) : 0;
    };
    s.byteCount = [] { return readAdapterByteCount(decoderState().adapterHandle); };
    s.lostFrames = [] { return readAdapterLostFrames(decoderState().adapterHandle); };
    return s;
}

StatusPoller::StatusPoller(QWidget* form, const Ui::KestIpDataForm& ui, TrayIcon* tray, StatusSources sources,
                           StatusHooks hooks)
    : QObject(form), form_(form), ui_(ui), tray_(tray), sources_(std::move(sources)), hooks_(std::move(hooks))
{
}

void StatusPoller::setupPlot()
{
    if (plotItems_.speedCurve == nullptr)
        plotItems_ = setupStatusPlot(ui_.statusPlot, history_);
}

void StatusPoller::releasePlotItems()
{
    delete plotItems_.averageMarker;
    delete plotItems_.speedCurve;
    plotItems_ = StatusPlotItems();
}

void StatusPoller::readInitialByteCount()
{
    lastCounter_ = sources_.byteCount ? sources_.byteCount() : 0;
    lastByteCount_ = lastCounter_;
}

bool StatusPoller::retuneAllowed() const
{
    if (!hooks_.tuningBusy || !hooks_.tuningRejected || !hooks_.lnbPowerOn)
        return false;
    return !hooks_.tuningBusy() && !hooks_.tuningRejected() && hooks_.lnbPowerOn();
}

void StatusPoller::poll()
{
    int32_t strength = 0, quality = 0, locked = 0;
    quint32 rate = 0;
    query(sources_.signalStrength, &strength);
    query(sources_.demodLocked, &locked);
    const uint32_t counter = sources_.byteCount ? sources_.byteCount() : 0;
    if (sources_.lostFrames)
        lostFrames_ = sources_.lostFrames();

    if (locked != 0) {
        query(sources_.signalQuality, &quality);
        if (hooks_.setIndStatus)
            hooks_.setIndStatus(1);
        if (hooks_.refreshActivePids)
            hooks_.refreshActivePids();
        if (counter != lastCounter_) {
            // The adapter's count is 32 bits and wraps every 4 GiB: a smaller
            // reading has wrapped, and the difference modulo 2^32 is what passed.
            const uint32_t difference = counter - lastCounter_;
            rate = quint32(difference / kBytesPerKilobit);
            if (hooks_.setIndStatus)
                hooks_.setIndStatus(2);
            lastCounter_ = counter;
            lastByteCount_ += difference;
        }
    } else if (hooks_.setIndStatus) {
        hooks_.setIndStatus(0);
    }
    lastRate_ = rate;
    lastLocked_ = locked != 0;
    lastStrength_ = strength;
    lastQuality_ = quality;

    if (locked == 0 && retuneAllowed()) {
        if (unlockedMs_ > kRetuneAfterMs) {
            // Reset before the call: a tuning that completes resets it too.
            unlockedMs_ = 0;
            if (hooks_.reapplyTuning)
                hooks_.reapplyTuning();
        } else {
            unlockedMs_ += kPollMs;
        }
    } else {
        unlockedMs_ = 0;
    }

    const double megabytes = double(lastByteCount_) / kBytesPerMegabyte;
    ui_.labelReceived->setText(QString::asprintf("%.3f", megabytes));
    ui_.textLabelAGC->setText(centred(strength));
    ui_.ledMeterAGC->setValue(strength);
    ui_.textLabelSNR->setText(centred(quality));
    ui_.ledMeterSNR->setValue(quality);

    pushRateSample(history_, plotItems_.averageMarker, rate);
    rateAxisScale(ui_.statusPlot, QwtPlot::yLeft, history_.peak);

    if (tray_ != nullptr)
        tray_->setToolTip(QString::asprintf("Kest Ip Data\nStatus: %s\nIN: %.3f MB\nAR: %d kbit/s",
                                            locked != 0 ? "Locked" : "Unlocked", megabytes,
                                            int(history_.average)));

    if (!form_->window()->isMinimized())
        ui_.statusPlot->replot();
}
