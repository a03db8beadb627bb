// Bring-up and teardown of the main window's own parts: validators, tray
// icon and menu, LED meter bands, lock indicator and default MAC label.
#include "app/kestipdataform.h"

#include "app/embeddedimagefactory.h"
#include "app/trayicon.h"
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/filter_pages.h"
#include "decoder/receive_lock.h"
#include "monitor/ledmeter.h"
#include "app/settings_store.h"
#include "app/status_poller.h"
#include "presets/provider_table.h"
#include "tuner/bdamanager.h"
#include "tuner/card_control.h"
#include "tuner/tuning_panel.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>

#include <QIntValidator>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>

namespace {

void setPattern(QLineEdit* edit, const char* pattern)
{
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(pattern)), edit));
}

void setRange(QLineEdit* edit, int bottom, int top)
{
    edit->setValidator(new QIntValidator(bottom, top, edit));
}

} // namespace

void addLedMeterBands(LedMeter& level, LedMeter& quality, int modelId)
{
    if (modelId == 3 || modelId == 4 || modelId == 5) {
        level.addBand(20, Qt::red);
        level.addBand(20, Qt::yellow);
        level.addBand(60, Qt::green);
        quality.addBand(40, Qt::red);
        quality.addBand(20, Qt::yellow);
        quality.addBand(40, Qt::green);
    } else {
        level.addBand(16, Qt::red);
        level.addBand(84, Qt::green);
        quality.addBand(10, Qt::red);
        quality.addBand(10, Qt::yellow);
        quality.addBand(80, Qt::green);
    }
}

QString defaultMacText(const quint8 mac[6])
{
    return QString::asprintf("%.2X:%.2X:%.2X:%.2X:%.2X:%.2X\n", mac[0], mac[1], mac[2], mac[3],
                             mac[4], mac[5]);
}

void KestIpDataForm::initForm()
{
    const bool receiver = receiverEnabled();
    providers = new ProviderTable;
    if (receiver) {
        allocatePidTables();
        DecoderChange change;
        clearSlots();
    }

    setPattern(lineEditFreq, KestPatterns::Decimal5);
    setPattern(lineEditSmbRate, KestPatterns::Decimal5);
    setPattern(lineEditPidValue, KestPatterns::Decimal5);
    for (QLineEdit* edit : {lineEditMAC0, lineEditMAC1, lineEditMAC2, lineEditMAC3, lineEditMAC4,
                            lineEditMAC5, RAW0, RAW1, RAW2, RAW3, RAW4, RAW5})
        setPattern(edit, KestPatterns::Hex2);
    for (QLineEdit* edit : {lineEditIP0, lineEditIP1, lineEditIP2, lineEditIP3})
        setRange(edit, 0, 255);
    setRange(lineEditGoto, 0, 99);
    filterPages = new FilterPages(this, *this);

    if (receiver)
        bringUpCard();
    tuningPanel = new tuner::TuningPanel(this, *this, card, filterPages);
    installEventFilter(this);
    // A focused combo box keeps Ctrl+T for its keyboard search, so the key
    // press would never reach keyPressEvent: the shortcut comes first,
    // whichever widget of the window has the focus.
    auto* statisticsShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(statisticsShortcut, &QShortcut::activated, this, [this] { openStatistics(); });

    // The two entries are the same in every language.
    trayMenu = new QMenu;
    trayMenu->addAction(QStringLiteral("Show Normal"), this, &QWidget::showNormal);
    trayMenu->addSeparator();
    trayMenu->addAction(QStringLiteral("&Quit"), this, &QDialog::accept);
    trayIcon = new TrayIcon(EmbeddedImageFactory::defaultFactory().pixmap("nolocksmall.png"),
                            QStringLiteral("Kest Ip Data\nNo Locked"), trayMenu, this);
    connect(trayIcon, &TrayIcon::clicked, this, &QWidget::showNormal);
    // A hidden window whose way back left with the tray host returns to the taskbar.
    connect(trayIcon, &TrayIcon::trayHostChanged, this, [this](bool available) {
        if (!available && isHidden() && isMinimized())
            showMinimized();
    });
    trayIcon->show();

    StatusHooks hooks;
    hooks.setIndStatus = [this](int status) { setIndStatus(status); };
    hooks.refreshActivePids = [this] { filterPages->refreshActivePids(); };
    hooks.reapplyTuning = [this] { applyTuning(false); };
    hooks.tuningBusy = [this] { return tuningPanel != nullptr && tuningPanel->tuningBusy; };
    hooks.tuningRejected = [this] { return tuningPanel != nullptr && tuningPanel->tuningRejected; };
    hooks.lnbPowerOn = [this] { return tuningPanel != nullptr && tuningPanel->lnbPowerOn; };
    statusPoller = new StatusPoller(this, *this, trayIcon, StatusSources::receiver([this] { return bdaManager; }),
                                    hooks);

    statusPoller->readInitialByteCount();
    addLedMeterBands(*ledMeterAGC, *ledMeterSNR, modelId);
    setIndStatus(0);
    if (bdaManager != nullptr)
        bdaManager->ReadMACAddress(defaultMac);
    std::copy(defaultMac, defaultMac + 6, tuningPanel->defaultMac.begin());
    showDefaultMac();

    statusPoller->setupPlot();
    loadProviders();
    if (!receiver)
        return;

    SettingsHooks settingsHooks;
    settingsHooks.lnbPowerOff = [this] {
        if (bdaManager != nullptr)
            bdaManager->Power(0);
    };
    settingsHooks.lnbTypeActivated = [this](int index) { lnbTypeComboBox_activated(index); };
    settingsHooks.filterModeSelected = [this](int id) { filterPages->modeSelected(id); };
    settingsHooks.loadPidList = [this](const QString& text) { filterPages->loadPidList(text, SlotMpe); };
    settingsHooks.loadUlePidList = [this](const QString& text) { filterPages->loadPidList(text, SlotUle); };
    settingsHooks.storedPidList = [this] { return filterPages->storedPidList(SlotMpe); };
    settingsHooks.storedUlePidList = [this] { return filterPages->storedPidList(SlotUle); };
    tuner::TuningPanel& t = *tuningPanel;
    settingsHooks.showStream = [&t] {
        t.showStream(t.currentStreamId, t.currentPlsMode, t.currentPlsCode, t.currentBasebandFrames);
    };
    settingsStore = new SettingsStore(this, *this,
                                      SettingsFields{t.currentFrequency, t.currentSymbolRate, t.currentPolarisation,
                                                     t.currentModulation, t.currentFec, t.lnbPowerOn,
                                                     t.currentStreamId, t.currentPlsMode, t.currentPlsCode,
                                                     t.currentBasebandFrames},
                                      settingsHooks);
    settingsStore->loadSettings();

    if (modelId != 3) {
        comboBoxModulation->setCurrentIndex(0);
        comboBoxFEC->setCurrentIndex(0);
    }
    card->resetDiSEqC();
    applyTuning(false);
    statusTimerId = startTimer(1000);
    if (checkBoxStartAndHide->isChecked())
        showMinimized();
}

ReceiverStatus KestIpDataForm::receiverStatus() const
{
    ReceiverStatus status;
    if (statusPoller != nullptr) {
        status.locked = statusPoller->lastLocked();
        status.strength = statusPoller->lastStrength();
        status.quality = statusPoller->lastQuality();
    }
    if (tuningPanel != nullptr) {
        status.frequency = tuningPanel->currentFrequency;
        status.symbolRate = tuningPanel->currentSymbolRate;
        status.vertical = tuningPanel->currentPolarisation;
    }
    if (card != nullptr && card->windowTitle() != nullptr)
        status.model = QString::fromLatin1(card->windowTitle()).section(QStringLiteral(" @ "), 1);
    return status;
}

void KestIpDataForm::showDefaultMac()
{
    textLabelDefaultMAC->setText(defaultMacText(defaultMac));
}

void KestIpDataForm::shutdownForm()
{
    if (shutDown)
        return;
    shutDown = true;
    if (card != nullptr)
        card->stopGraph();
    emit receiverStopping();
    if (statusTimerId != 0) {
        killTimer(statusTimerId);
        statusTimerId = 0;
    }
    DecoderState& state = decoderState();
    if (state.adapterHandle != nullptr) {
        closeAdapter(state.adapterHandle);
        state.adapterHandle = nullptr;
    }
    if (settingsStore != nullptr) {
        settingsStore->saveSettings();
        delete settingsStore;
        settingsStore = nullptr;
    }
    if (statusPoller != nullptr)
        statusPoller->releasePlotItems();
    {
        // No sample is being decoded once the lock is held; the handler is gone.
        DecoderChange change;
        freePidTables();
    }
    delete providers;
    providers = nullptr;
    tuningPanel = nullptr; // a child of the form, it must not drive the card any more
    delete card;
    card = nullptr;
    bdaManager = nullptr;
    if (trayIcon) {
        trayIcon->hide();
        delete trayIcon;
        trayIcon = nullptr;
    }
    delete trayMenu;
    trayMenu = nullptr;
}

bool KestIpDataForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        switch (event->type()) {
        case QEvent::WindowStateChange:
            // Minimised: leave the taskbar; the tray icon brings the window back.
            // Without a tray to show the icon the window stays in the taskbar, or
            // nothing would be left to bring it back.
            if (isMinimized() && trayIcon != nullptr && trayIcon->isInTray())
                QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
            break;
        case QEvent::Close:
            // The close button ends the program: the receiver goes down (and the
            // settings are saved) first. Leaving through the event loop lets main
            // clean up the rest instead of exiting from inside an event handler.
            shutdownForm();
            QCoreApplication::exit(0);
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}
