// The decoder record has a member named `slots`: it must be read before Qt
// defines its keyword macro.
#include "decoder/decoder.h"

#include "monitor/testform.h"

#include "app/embeddedimagefactory.h"
#include "monitor/mainratesource.h"
#include "monitor/pidlistitem.h"

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QTimerEvent>

#include <qwt_plot.h>
#include <qwt_plot_marker.h>

#include <cmath>

namespace {

// A per-PID table may be missing before the receiver comes up or after it
// goes down: it then reads as all zero.
quint64 tableValue(const Counter* table, int pid)
{
    return table ? counterValue(table[pid]) : 0;
}

} // namespace

TestForm::TestForm(QWidget* parent, const MainRateSource& rates)
    : TestForm(parent, rates, decoderState())
{
}

TestForm::TestForm(QWidget* parent, const MainRateSource& rates, const DecoderState& decoderRecord)
    : QDialog(parent), mainRates(rates), decoder(decoderRecord), pidSnapshot(new quint64[kPidCount]())
{
    setupUi(this);
    languageChange();
    listActivePids->sortByColumn(PidListItem::PidColumn, Qt::AscendingOrder);
    pixmapPIDsLegend->setPixmap(EmbeddedImageFactory::defaultFactory().pixmap("blueLegend.png"));
    pixmapMpeLegend->setPixmap(EmbeddedImageFactory::defaultFactory().pixmap("greenLegend.png"));
    resize(minimumSizeHint().expandedTo(QSize(675, 492)));

    plot = setupStatisticsPlot(statusTs, pidRateHistory, mainRates.adapterRateHistory());
    updatePidList();
    timerId = startTimer(1000);
}

TestForm::~TestForm()
{
    if (timerId)
        killTimer(timerId);
}

int TestForm::openFor(QWidget* mainWindow, const MainRateSource& rates)
{
    auto* form = new TestForm(mainWindow, rates);
    form->setObjectName("TS");
    form->setModal(true);
    form->setAttribute(Qt::WA_DeleteOnClose);
    // exec() deletes the window on return because of WA_DeleteOnClose.
    return form->exec();
}

bool TestForm::isOpenShortcut(const QKeyEvent& event)
{
    return event.modifiers() == Qt::ControlModifier && event.key() == Qt::Key_T;
}

void TestForm::languageChange()
{
    retranslateUi(this);
}

void TestForm::updatePidList()
{
    const Counter* packets = decoder.pidPackets;
    quint64 total = 0;
    quint64 busiest = 1;

    // One sort after the whole update instead of one per changed cell.
    listActivePids->setSortingEnabled(false);
    for (int pid = 0; pid < kPidCount; ++pid) {
        // Read once: the streaming thread may count on between two reads.
        const quint64 count = tableValue(packets, pid);
        if (pidSnapshot[pid] == 0 && count != 0) {
            auto* row = new PidListItem(listActivePids);
            row->setText(PidListItem::PidColumn, QString::number(pid));
            if (decoder.pidSlot[pid] != 0)
                row->setText(PidListItem::StatusColumn, tr("Active"));
        }
        pidSnapshot[pid] = count;
        total += count;
        busiest = qMax(busiest, count);
    }

    QList<QTreeWidgetItem*> rows;
    rows.reserve(listActivePids->topLevelItemCount());
    for (int i = 0; i < listActivePids->topLevelItemCount(); ++i)
        rows.append(listActivePids->topLevelItem(i));
    for (QTreeWidgetItem* item : rows) {
        const uint pid = item->text(PidListItem::PidColumn).toUInt(nullptr, 10);
        const quint64 snapshot = pid < uint(kPidCount) ? pidSnapshot[pid] : 0;
        if (snapshot == 0) {
            // The counters were cleared (a retune): the PID is gone until it counts again.
            delete item;
            continue;
        }
        // Few packets: nearly white; the busiest PID: the deepest green.
        const int a = static_cast<int>(64.0 * std::pow(double(snapshot) / double(busiest), 0.2));
        static_cast<PidListItem*>(item)->setColor(255 - a, 255, 255 - a);
        item->setText(PidListItem::CountColumn, QString::number(snapshot));
        item->setText(PidListItem::PercentColumn,
                      QString::asprintf("%.2lf%%", double(snapshot) * 100.0 / double(total)));
    }
    listActivePids->setSortingEnabled(true);
}

quint32 TestForm::activePidRateSample()
{
    quint64 packets = 0;
    for (int pid = 0; pid < kPidCount; ++pid)
        packets += tableValue(decoder.pidSelectedPackets, pid);
    const quint64 bytes = packets * kTsPacketSize;
    if (byteReference == 0)
        byteReference = bytes;
    // 128 bytes a second are one kbit/s of 1024 bits.
    const quint64 sample = bytes > byteReference ? (bytes - byteReference) / 128 : 0;
    byteReference = bytes;
    return static_cast<quint32>(qMin<quint64>(sample, 0xFFFFFFFFu));
}

void TestForm::tick()
{
    labelRx_continuity_errors->setText(QString::number(counterValue(decoder.rxContinuityErrors)));
    labelRx_scrambled_errors->setText(QString::number(counterValue(decoder.rxScrambledErrors)));
    labelRx_pointer_errors->setText(QString::number(counterValue(decoder.rxPointerErrors)));
    labelRx_mem_errors->setText(QString::number(counterValue(decoder.rxMemErrors)));
    labelRx_length_errors->setText(QString::number(counterValue(decoder.rxLengthErrors)));
    labeltRx_crc_errors->setText(QString::number(counterValue(decoder.rxCrcErrors)));
    labelRx_dropped->setText(QString::number(counterValue(decoder.rxDropped)));
    labelRx_bbframe_errors->setText(QString::number(counterValue(decoder.rxBbFrameErrors)));
    labelRx_gse_errors->setText(QString::number(counterValue(decoder.rxGseErrors)));
    labelRx_ule_errors->setText(QString::number(counterValue(decoder.rxUleErrors)));
    labelRx_errors->setText(QString::number(counterValue(decoder.rxErrors)));

    updatePidList();

    pushRateSample(pidRateHistory, plot.pidAverageMarker, activePidRateSample());
    const RateHistory& mpe = mainRates.adapterRateHistory();
    placeAverageMarker(plot.mpeAverageMarker, mpe.average);

    labelPIDsMin->setText(QString::number(pidRateHistory.minimum));
    labelPIDsMax->setText(QString::number(pidRateHistory.peak));
    labelPIDsAverage->setText(QString::number(pidRateHistory.average));
    labelMpeMin->setText(QString::number(mpe.minimum));
    labelMpeMax->setText(QString::number(mpe.peak));
    labelMpeAverage->setText(QString::number(mpe.average));
    // Frames the adapter could not pass on (a full disk, an interface gone): shown in red
    // as soon as there is one, since each is a datagram the network never saw.
    const uint64_t lost = mainRates.adapterLostFrames();
    labelMpeLost->setText(QString::number(lost));
    labelMpeLost->setStyleSheet(lost > 0 ? QStringLiteral("color: red; font-weight: bold") : QString());

    rateAxisScale(statusTs, QwtPlot::yLeft, pidRateHistory.peak);
    rateAxisScale(statusTs, QwtPlot::yRight, mpe.peak);
    statusTs->replot();
}

void TestForm::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timerId) {
        QDialog::timerEvent(event);
        return;
    }
    tick();
    // Keeps the window responsive when the event loop is busy elsewhere;
    // the window may be closed (and deleted later) meanwhile.
    QApplication::processEvents();
}
