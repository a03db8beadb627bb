// The receiver behind the main window: card detection and the graph at
// bring-up, the filter pages, the providers, the rate plot, the statistics
// window and the external tuning messages; the teardown in its order.
#include "app/kestipdataform.h"

#include "app/status_poller.h"
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/filter_pages.h"
#include "decoder/receive_lock.h"
#include "monitor/testform.h"
#include "platform/instance/instance_name.h"
#include "platform/qt/messagebox.h"
#include "platform/qt/messagewindow.h"
#include "platform/win32/messagebox.h"
#include "presets/provider_table.h"
#include "tuner/card_control.h"
#include "tuner/tuning_panel.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTimerEvent>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>

#include <cstdlib>

namespace {

bool g_receiverEnabled = false;

// Commands of the external tuning messages (wParam of WM_USER).
constexpr WPARAM kSetFrequency = 0x1010000;
constexpr WPARAM kSetSymbolRate = 0x1020000;
constexpr WPARAM kSetPolarisation = 0x1030000;
constexpr WPARAM kForwardedValue = 0x1040000;
constexpr WPARAM kApplyTuning = 0x2000000;
constexpr WPARAM kAddPid = 0x1090000;
// The DVB-S2 stream selection of TransponderChangeStream, before its apply.
constexpr WPARAM kSetStream = 0x1050000;
constexpr WPARAM kSetPlsMode = 0x1060000;
constexpr WPARAM kSetPlsCode = 0x1070000;

[[noreturn]] void fatalError(const char* text)
{
    if (platform::messageBoxesToStderr()) {
        platform::writeMessageBoxToStderr("Fatal error", text);
    } else {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Fatal error"), QString::fromLatin1(text));
        box.addButton(QStringLiteral("Quit"), QMessageBox::AcceptRole);
        box.exec();
    }
    std::exit(-1);
}

} // namespace

void KestIpDataForm::enableReceiver(bool on) { g_receiverEnabled = on; }
bool KestIpDataForm::receiverEnabled() { return g_receiverEnabled; }

void KestIpDataForm::bringUpCard()
{
    card = new tuner::CardControl;
    if (!card->detectDevice())
        fatalError("Kest devices not found");
    bdaManager = card->bdaManager();
    modelId = card->modelId();
    // A named copy adds its name, so the title stays its own (external tuning).
    setWindowTitle(QString::fromStdString(instance::windowTitle(card->windowTitle(), instance::current())));
    if (!card->modulationAndFecEnabled()) {
        comboBoxModulation->setEnabled(false);
        comboBoxFEC->setEnabled(false);
    }
    if (!card->startGraph())
        fatalError("Build Graph error");
    DecoderState& state = decoderState();
    state.adapterHandle = openAdapter();
    if (state.adapterHandle == nullptr)
        platform::qt::messageBox(this, QMessageBox::Warning, QStringLiteral("Error"),
                                 QStringLiteral("Make sure you have installed the Virtual MPE Decoder Adapter Driver."),
                                 QMessageBox::Ok, QMessageBox::Ok);
    // Other programs find the receiver by its title in its copy's folder (the external tuning call).
    messageWindow = new platform::qt::MessageWindow(
        windowTitle().toLatin1(),
        [this](MSG* message, LRESULT* result) {
            long answer = 0;
            const bool consumed = winEvent(message, &answer);
            *result = answer;
            return consumed;
        },
        this, instance::current());
}

bool KestIpDataForm::winEvent(MSG* message, long* result)
{
    if (message == nullptr || message->message != WM_USER)
        return false;
    const int value = static_cast<int>(message->lParam);
    switch (message->wParam) {
    case kSetFrequency: lineEditFreq->setText(QString::number(value)); break;
    case kSetSymbolRate: lineEditSmbRate->setText(QString::number(value)); break;
    case kSetPolarisation:
        // Anything but an item's index would leave no polarisation selected.
        if (value >= 0 && value < comboBoxPolarisation->count())
            comboBoxPolarisation->setCurrentIndex(value);
        break;
    case kForwardedValue: break;
    case kSetStream:
        // The spin box clamps; anything outside 0..255 means no stream.
        spinBoxStream->setValue(value >= 0 && value <= 255 ? value : -1);
        break;
    case kSetPlsMode:
        tuningPanel->showPlsMode(value); // no conversion: the code follows
        break;
    case kSetPlsCode: lineEditPLSCode->setText(QString::number(static_cast<uint32_t>(value))); break;
    case kApplyTuning: applyTuning(true); break;
    case kAddPid:
        lineEditPidValue->setText(QString::number(value));
        buttonAddPid_clicked();
        break;
    default: break;
    }
    *result = 0;
    return true; // every WM_USER message is ours
}

void KestIpDataForm::loadProviders()
{
    removeInterruptedSaves();
    if (!QFileInfo::exists(QString::fromLatin1(kProvidersFileName))) {
        buttonEdit->setEnabled(false);
        buttonRemove->setEnabled(false);
        return;
    }
    loadProviderFile(*providers);
    if (providers->size() > 0)
        comboBoxProviders->addItems(providers->names);
    buttonEdit->setEnabled(false);
    buttonRemove->setEnabled(false);
}

void KestIpDataForm::openStatistics() { TestForm::openFor(this, *this); }

// ---- Slots of the filter pages -----------------------------------------------------

void KestIpDataForm::buttonAddPid_clicked()
{
    if (filterPages)
        filterPages->addPid();
}

void KestIpDataForm::checkBoxHex_stateChanged(int state)
{
    if (filterPages)
        filterPages->hexChanged(state);
}

void KestIpDataForm::buttonRemovePid_clicked()
{
    if (filterPages)
        filterPages->removePid();
}

void KestIpDataForm::radioButtonDefaultAddr_clicked()
{
    if (filterPages)
        filterPages->modeSelected(0);
}

void KestIpDataForm::radioButtonMACAddr_clicked()
{
    if (filterPages)
        filterPages->modeSelected(1);
}

void KestIpDataForm::radioButtonIPAddr_clicked()
{
    if (filterPages)
        filterPages->modeSelected(2);
}

// ---- Slots of the tuning pages -------------------------------------------------------

void KestIpDataForm::buttonSet_clicked()
{
    applyTuning(true);
}

void KestIpDataForm::applyTuning(bool fromWidgets)
{
    if (!tuningPanel)
        return;
    tuningPanel->applyTuning(fromWidgets);
    if (statusPoller && !tuningPanel->tuningRejected && !tuningPanel->tuningBusy)
        statusPoller->tuningCompleted();
}

const RateHistory& KestIpDataForm::adapterRateHistory() const
{
    return statusPoller ? statusPoller->adapterRateHistory() : emptyHistory;
}

uint64_t KestIpDataForm::adapterLostFrames() const
{
    return statusPoller ? statusPoller->adapterLostFrames() : 0;
}

void KestIpDataForm::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == statusTimerId && statusPoller)
        statusPoller->poll();
}

void KestIpDataForm::lnbTypeComboBox_activated(int index)
{
    if (tuningPanel)
        tuningPanel->lnbTypeComboBox_activated(index);
}

void KestIpDataForm::buttonPower_toggled(bool on)
{
    if (tuningPanel)
        tuningPanel->buttonPower_toggled(on);
}

void KestIpDataForm::framePowerSetOn(bool on)
{
    if (tuningPanel)
        tuningPanel->framePowerSetOn(on);
}
