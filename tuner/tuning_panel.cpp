#include "tuner/tuning_panel.h"

#include "decoder/bbframe.h"

#include "decoder/filter_pages.h"
#include "platform/qt/messagebox.h"
#include "platform/win32/sync.h"
#include "tuner/card_control.h"
#include "tuner/input_filter.h"
#include "tuner/pls.h"
#include "ui_kestipdataform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>

namespace tuner {

namespace {

constexpr uint8_t kFramingFirst = 0xE0;  // command from the master, no reply, first transmission
constexpr uint8_t kFramingRepeat = 0xE1; // the same, repeated
constexpr DWORD kFirstCommandPause = 1000;
constexpr DWORD kMotorPause = 100;
constexpr DWORD kAfterResetPause = 100;
constexpr DWORD kSingleSwitchPause = 50;
constexpr DWORD kSwitchReleasePause = 50;

// Not a number (or an empty field) reads as 0.
int32_t number(const QLineEdit* edit, int base = 10)
{
    bool ok = false;
    const int value = edit->text().toInt(&ok, base);
    return ok ? value : 0;
}

bool filled(const QLineEdit* edit) { return !edit->text().isEmpty(); }

} // namespace

int32_t innerFecCode(int fecIndex)
{
    static const int32_t codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 8};
    return fecIndex >= 0 && fecIndex < 10 ? codes[fecIndex] : 0;
}

int32_t modulationCode(int modulationIndex)
{
    switch (modulationIndex) {
    case 1:
        return 20;
    case 2:
        return 21;
    default:
        return 0;
    }
}

FrequencyWindow frequencyWindow(uint32_t lof1, uint32_t lof2, uint32_t lnbSwitch)
{
    // The card's input band, intermediate frequencies in MHz.
    constexpr uint64_t kInputLow = 950;
    constexpr uint64_t kInputHigh = 2150;
    if (lof2 != 0 && lnbSwitch != 0)
        return {std::min(lof1, lof2) + kInputLow, std::max(lof1, lof2) + kInputHigh};
    // A C-band LNB's oscillator lies above the carrier, which inverts the
    // spectrum; an oscillator below the input band cannot (0: a direct feed).
    if (lof1 > 7000 || lof1 < kInputHigh)
        return {lof1 + kInputLow, lof1 + kInputHigh};
    return {lof1 - kInputHigh, lof1 - kInputLow};
}

TuningPanel::TuningPanel(QWidget* form, const Ui::KestIpDataForm& ui, CardControl* card, FilterPages* filters)
    : QObject(form), form_(form), ui_(ui), card_(card), filters_(filters)
{
    setUpStreamRow();
}

void TuningPanel::setUpStreamRow()
{
    ui_.lineEditPLSCode->setValidator(new QIntValidator(0, static_cast<int>(pls::kLastCode), ui_.lineEditPLSCode));
    plsModeShown_ = ui_.comboBoxPLSMode->currentIndex();
    // Only cards that list the property offer baseband frames.
    CBDAManager* manager = card_ != nullptr ? card_->bdaManager() : nullptr;
    ui_.checkBoxBBFrames->setVisible(manager != nullptr && manager->SupportsBasebandFrames());
    connect(ui_.comboBoxModulation, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { enableStreamRow(); });
    connect(ui_.comboBoxPLSMode, QOverload<int>::of(&QComboBox::activated), this,
            [this](int mode) { plsModeChosen(mode); });
    enableStreamRow();
}

void TuningPanel::enableStreamRow()
{
    const bool s2 = ui_.comboBoxModulation->currentIndex() != 1;
    for (QWidget* w : std::initializer_list<QWidget*>{ui_.textLabelStream, ui_.spinBoxStream, ui_.textLabelPLS,
                                                       ui_.comboBoxPLSMode, ui_.lineEditPLSCode,
                                                       ui_.checkBoxBBFrames})
        w->setEnabled(s2);
}

void TuningPanel::plsModeChosen(int mode)
{
    bool ok = false;
    const int code = ui_.lineEditPLSCode->text().toInt(&ok, 10);
    if (ok && mode != plsModeShown_) {
        if (const std::optional<uint32_t> gold = pls::goldCode(plsModeShown_, code))
            ui_.lineEditPLSCode->setText(
                QString::number(mode == pls::Root ? pls::rootOfGold(*gold) : *gold));
    }
    plsModeShown_ = mode;
}

void TuningPanel::showPlsMode(int32_t mode)
{
    if (mode != pls::Root && mode != pls::Gold)
        return;
    ui_.comboBoxPLSMode->setCurrentIndex(mode);
    plsModeShown_ = mode;
}

void TuningPanel::showStream(int32_t streamId, int32_t plsMode, int32_t plsCode, bool basebandFrames)
{
    ui_.spinBoxStream->setValue(streamId);
    showPlsMode(plsMode);
    ui_.lineEditPLSCode->setText(QString::number(plsCode));
    ui_.checkBoxBBFrames->setChecked(basebandFrames);
}

void TuningPanel::send(const uint8_t* message, int length)
{
    if (card_ != nullptr && card_->bdaManager() != nullptr)
        card_->bdaManager()->SendDiSEqC(message, length);
}

void TuningPanel::setDelivery(bool on)
{
    if (card_ != nullptr && card_->bdaManager() != nullptr)
        setInputFilterDelivery(card_->bdaManager()->m_pTSInputFilter.get(), on);
}

void TuningPanel::applyTuning(bool fromInputs)
{
    const uint32_t lof1 = static_cast<uint32_t>(number(ui_.lineEditLOF1));
    const uint32_t lof2 = static_cast<uint32_t>(number(ui_.lineEditLOF2));
    const uint32_t lnbSwitch = static_cast<uint32_t>(number(ui_.lineEditSwitch));
    tuningBusy = true;
    // Busy stays set: no automatic re-tuning while the supply is off.
    if (!lnbPowerOn)
        return;

    int32_t frequency = currentFrequency;
    int32_t symbolRate = currentSymbolRate;
    int polarisation = currentPolarisation ? 1 : 0;
    int modulation = currentModulation;
    int fec = currentFec;
    int32_t streamId = currentStreamId;
    int32_t plsMode = currentPlsMode;
    int32_t plsCode = currentPlsCode;
    bool basebandFrames = currentBasebandFrames;
    if (fromInputs) {
        frequency = number(ui_.lineEditFreq);
        symbolRate = number(ui_.lineEditSmbRate);
        polarisation = ui_.comboBoxPolarisation->currentIndex();
        modulation = ui_.comboBoxModulation->currentIndex();
        fec = ui_.comboBoxFEC->currentIndex();
        streamId = ui_.spinBoxStream->value();
        plsMode = ui_.comboBoxPLSMode->currentIndex();
        bool ok = false;
        plsCode = ui_.lineEditPLSCode->text().toInt(&ok, 10);
        if (!ok)
            plsCode = -1;
        basebandFrames = ui_.checkBoxBBFrames->isChecked() && ui_.checkBoxBBFrames->isVisibleTo(form_);
    }
    // On a model without the choice the selectors are disabled and show what
    // the card gets; a value stored by the settings or a preset of another
    // model must not reach it through the applied values.
    if (!ui_.comboBoxModulation->isEnabledTo(form_))
        modulation = ui_.comboBoxModulation->currentIndex();
    if (!ui_.comboBoxFEC->isEnabledTo(form_))
        fec = ui_.comboBoxFEC->currentIndex();

    const uint32_t f = static_cast<uint32_t>(frequency);
    const FrequencyWindow window = frequencyWindow(lof1, lof2, lnbSwitch);
    if (f < window.low || f > window.high) {
        tuningRejected = true;
        platform::qt::messageBox(
            form_, QMessageBox::Warning, QCoreApplication::translate("KestIpDataForm", "Error"),
            QCoreApplication::translate("KestIpDataForm", "Frequency should be from\n(%1 MHz - %2 MHz)")
                .arg(window.low)
                .arg(window.high));
        return;
    }
    // The sequence never reaches root 0, and gold codes wrap after 262142.
    const bool dvbS = modulationCode(modulation) == modulationCode(1);
    if (!dvbS && !pls::goldCode(plsMode, plsCode)) {
        tuningRejected = true;
        const bool root = plsMode == pls::Root;
        platform::qt::messageBox(
            form_, QMessageBox::Warning, QCoreApplication::translate("KestIpDataForm", "Error"),
            QCoreApplication::translate("KestIpDataForm", "PLS code should be from\n(%1 - %2)")
                .arg(root ? 1 : 0)
                .arg(root ? pls::kLastCode : pls::kLastCode - 1));
        return;
    }
    const bool highBand = f >= lnbSwitch && lnbSwitch != 0 && lof2 != 0;

    CBDAManager* manager = card_ != nullptr ? card_->bdaManager() : nullptr;
    // Nothing may be decoded while the graph, the filter and the counters change.
    setDelivery(false);
    if (manager != nullptr)
        manager->StopGraph();

    moveMotor();
    sendRawCommand();
    switchDiSEqC10(polarisation, highBand);

    SatelliteParams params;
    params.carrierFrequency = f * 1000u;
    params.polarisation = polarisation == 0 ? 1 : 2;
    params.lnbLowOscillator = lof1 * 1000u;
    params.lnbHighOscillator = lof2 * 1000u;
    params.lnbSwitchFrequency = lnbSwitch * 1000u;
    params.spectralInversion = 4;
    params.symbolRate = static_cast<uint32_t>(symbolRate);
    params.innerFecRate = innerFecCode(fec);
    params.modulation = modulationCode(modulation);
    // DVB-S has no input streams: its tuning stays what it always was.
    if (!dvbS) {
        params.streamId = streamId;
        params.plsMode = plsMode;
        params.plsCode = plsCode;
        params.basebandFrames = basebandFrames ? 1 : 0;
    }
    if (manager != nullptr)
        manager->SetNewSatParams(&params);

    // The address filter step also empties the seen list and restarts the counters.
    if (filters_ != nullptr)
        filters_->applyAddressFilter(defaultMac);
    // A card that delivers the frames of every input stream: GSE only from the one chosen.
    setInputStreamFilter(dvbS ? -1 : streamId);

    unlockedMs = 0;
    currentFrequency = frequency;
    currentSymbolRate = symbolRate;
    currentPolarisation = polarisation != 0;
    currentModulation = static_cast<uint8_t>(modulation);
    currentFec = fec;
    currentStreamId = streamId;
    currentPlsMode = plsMode;
    currentPlsCode = plsCode;
    currentBasebandFrames = basebandFrames;
    tuningRejected = false;
    tuningBusy = false;

    if (manager != nullptr)
        manager->RunGraph();
    setDelivery(true);
}

void TuningPanel::moveMotor()
{
    if (!ui_.groupBoxDiSEqC1_2->isChecked() || !filled(ui_.lineEditGoto))
        return;
    const int32_t position = number(ui_.lineEditGoto);
    if (position != lastGotoPosition) {
        uint8_t message[4] = {kFramingFirst, 0x31, 0x6B, static_cast<uint8_t>(position)};
        if (firstDiseqcPending) {
            Sleep(kFirstCommandPause);
            firstDiseqcPending = false;
        }
        const int sends = ui_.spinBoxTXCountMotor->value() + 1;
        for (int i = 0; i < sends; ++i) {
            send(message, 4);
            message[0] = kFramingRepeat;
            Sleep(kMotorPause);
        }
    }
    lastGotoPosition = position;
}

void TuningPanel::sendRawCommand()
{
    const QLineEdit* const rawBytes[6] = {ui_.RAW0, ui_.RAW1, ui_.RAW2, ui_.RAW3, ui_.RAW4, ui_.RAW5};
    if (!ui_.groupBoxRAW->isChecked() || !filled(rawBytes[0]) || !filled(rawBytes[1]) || !filled(rawBytes[2]))
        return;
    // Only the bytes typed one after the other are sent: a byte after an
    // empty field would leave the one before it without a value.
    uint8_t message[6] = {};
    int length = 0;
    while (length < 6 && filled(rawBytes[length])) {
        message[length] = static_cast<uint8_t>(number(rawBytes[length], 16));
        ++length;
    }
    if (firstDiseqcPending) {
        Sleep(kFirstCommandPause);
        firstDiseqcPending = false;
    }
    send(message, length);
}

void TuningPanel::switchDiSEqC10(int polarisation, bool highBand)
{
    static const uint8_t reset[3] = {kFramingFirst, 0x00, 0x00};
    int32_t dummyPort = 0;
    int32_t& lastSwitchPort = card_ != nullptr ? card_->lastSwitchPort : dummyPort;
    if (!ui_.groupBoxDiSEqC1_0->isChecked()) {
        if (lastSwitchPort != 0) {
            send(reset, 3);
            Sleep(kSwitchReleasePause);
            lastSwitchPort = 0;
        }
        return;
    }
    const int port = ui_.comboBoxDiSEqC10->currentIndex();
    const int repeat = ui_.spinBoxTXCount->value();
    const DWORD gap = repeat == 0 ? kSingleSwitchPause : static_cast<DWORD>(ui_.spinBoxGap->value());
    send(reset, 3);
    Sleep(kAfterResetPause);
    const uint8_t data = static_cast<uint8_t>(0xF0 | (port >= 2 ? 8 : 0) | ((port & 1) != 0 ? 4 : 0) |
                                              (polarisation == 0 ? 2 : 0) | (highBand ? 1 : 0));
    uint8_t message[4] = {kFramingFirst, 0x10, 0x38, data};
    for (int i = 0; i <= repeat; ++i) {
        send(message, 4);
        message[0] = kFramingRepeat;
        Sleep(gap);
    }
    lastSwitchPort = port;
}

void TuningPanel::lnbTypeComboBox_activated(int index)
{
    struct Preset {
        const char* lof1;
        const char* lnbSwitch;
        const char* lof2;
        bool editable;
    };
    static const Preset presets[] = {
        {"9750", "11700", "10600", false}, // UNIVERSAL
        {"5150", "0", "0", false},         // C-BAND
        {"10750", "0", "0", false},        // KU-CIRCULAR
        {"9750", "11700", "10600", true},  // CUSTOM
    };
    if (index < 0 || index > 3)
        return;
    const Preset& preset = presets[index];
    QLineEdit* const fields[] = {ui_.lineEditLOF1, ui_.lineEditSwitch, ui_.lineEditLOF2};
    const char* const texts[] = {preset.lof1, preset.lnbSwitch, preset.lof2};
    for (QLineEdit* field : fields)
        field->setEnabled(preset.editable);
    for (int i = 0; i < 3; ++i)
        fields[i]->setText(texts[i]);
}

void TuningPanel::buttonPower_toggled(bool on)
{
    lnbPowerOn = on;
    framePowerSetOn(on);
    if (card_ != nullptr && card_->bdaManager() != nullptr)
        card_->bdaManager()->Power(on ? 1 : 0);
}

void TuningPanel::framePowerSetOn(bool on)
{
    QPalette palette = ui_.framePower->palette();
    palette.setColor(QPalette::Window, on ? QColor(Qt::green) : QColor(Qt::lightGray));
    ui_.framePower->setPalette(palette);
    ui_.framePower->setAutoFillBackground(true);
}

} // namespace tuner
