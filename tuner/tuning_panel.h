// The main window's Tuner, LNB and DiSEqC pages: turning the inputs into
// DiSEqC commands and a tuning of the card, the LNB type presets and the LNB
// supply button with its lamp.
//
// Works on the main window's widgets (Ui::KestIpDataForm).
// Every DiSEqC pause goes through Sleep(). The last DiSEqC 1.0 port is the
// card control's lastSwitchPort, which its DiSEqC reset clears.
#pragma once

#include <QObject>

#include <array>
#include <cstdint>

class FilterPages;
class QWidget;
namespace Ui {
class KestIpDataForm;
}

namespace tuner {

class CardControl;

// Code sent as innerFecRate for a comboBoxFEC index ("5/11" and "8/9" share 7).
int32_t innerFecCode(int fecIndex);
// Code sent as modulation for a comboBoxModulation index.
int32_t modulationCode(int modulationIndex);

// The band a transponder frequency must lie in for an LNB, in MHz. The
// oscillators are taken as unsigned 32-bit numbers; the limits are computed
// in 64 bits, so that none wraps.
struct FrequencyWindow {
    uint64_t low;
    uint64_t high;
};
FrequencyWindow frequencyWindow(uint32_t lof1, uint32_t lof2, uint32_t lnbSwitch);

class TuningPanel : public QObject {
    Q_OBJECT
public:
    // `card` and `filters` may be null (nothing is sent, no address step).
    TuningPanel(QWidget* form, const Ui::KestIpDataForm& ui, CardControl* card, FilterPages* filters);

    // Tunes from the widgets (true) or from the applied values (false); the
    // LNB and DiSEqC inputs always come from the widgets.
    void applyTuning(bool fromInputs);
    void lnbTypeComboBox_activated(int index);
    void buttonPower_toggled(bool on);
    void framePowerSetOn(bool on);
    // Shows a stream selection in the Stream row (settings, presets).
    void showStream(int32_t streamId, int32_t plsMode, int32_t plsCode, bool basebandFrames);
    // Selects root (0) or gold (1) without converting the code shown; other values change nothing.
    void showPlsMode(int32_t mode);

    // Shared with the status poller, the settings and the presets.
    bool lnbPowerOn = true;
    bool firstDiseqcPending = true;
    bool tuningBusy = true;
    bool tuningRejected = false;
    double unlockedMs = 0;
    int32_t lastGotoPosition = 0;
    int32_t currentFrequency = 0;  // MHz
    int32_t currentSymbolRate = 0; // kS/s
    bool currentPolarisation = false;
    uint8_t currentModulation = 0;
    int32_t currentFec = 0;
    int32_t currentStreamId = -1; // -1 none ("Single"), 0..255
    int32_t currentPlsMode = 1;   // 0 root, 1 gold
    int32_t currentPlsCode = 0;
    bool currentBasebandFrames = false;
    // The card's own MAC address, for the address filter's default mode.
    std::array<uint8_t, 6> defaultMac{};

private:
    void setUpStreamRow();
    // The row is for DVB-S2 and "Auto"; the Linux DVB frontends that cannot select a stream say so.
    void enableStreamRow();
    // The code shown is converted when the user switches between root and gold.
    void plsModeChosen(int mode);
    void moveMotor();
    void sendRawCommand();
    void switchDiSEqC10(int polarisation, bool highBand);
    void send(const uint8_t* message, int length);
    void setDelivery(bool on);

    QWidget* form_;
    const Ui::KestIpDataForm& ui_;
    CardControl* card_;
    FilterPages* filters_;
    int plsModeShown_ = 1;
};

} // namespace tuner
