#pragma once
// KestIpDataForm: the receiver's main window. The widgets come from
// kestipdataform.ui; the form also holds the receiver's run-time state (the
// applied tuning, LNB power, model, rate statistics) and owns the tray icon.
#include "ui_kestipdataform.h"   // generated from kestipdataform.ui

#include "monitor/mainratesource.h"
#include "monitor/rateplot.h"

#include <QDialog>
#include <QtGlobal>

class CBDAManager;
class FilterPages;
class LedMeter;
class ProviderTable;
struct ProviderRecord;
class SettingsStore;
class StatusPoller;
namespace tuner {
class TuningPanel;
}
class QKeyEvent;
class QMenu;
class QTimerEvent;
class QwtPlotMarker;
class TrayIcon;
struct MSG;
namespace platform::qt {
class MessageWindow;
}
namespace tuner {
class CardControl;
}

// Input patterns of the line edits.
namespace KestPatterns {
constexpr char Decimal5[] = "[0-9][0-9][0-9][0-9][0-9]";
constexpr char Hex4[] = "[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]";
constexpr char Hex2[] = "[0-9A-Fa-f][0-9A-Fa-f]";
} // namespace KestPatterns

// Colour bands of the level (AGC) and quality (SNR) meters for a card model.
void addLedMeterBands(LedMeter& level, LedMeter& quality, int modelId);

// What the status poll and the applied tuning say, for monitoring.
struct ReceiverStatus {
    bool locked = false;
    qint32 strength = 0; // percent
    qint32 quality = 0;  // percent
    qint32 frequency = 0;  // MHz, as last applied
    qint32 symbolRate = 0; // kS/s
    bool vertical = false; // polarisation
    QString model;         // the card's name, e.g. "Kest Cedar DVB-S2"
};

// The card's MAC address as the filter page shows it.
QString defaultMacText(const quint8 mac[6]);

class KestIpDataForm : public QDialog, public Ui::KestIpDataForm, public MainRateSource {
    Q_OBJECT

public:
    static constexpr int RateHistorySize = 241;

    explicit KestIpDataForm(QWidget* parent = nullptr, const char* name = nullptr,
                            bool modal = false, Qt::WindowFlags flags = {});
    ~KestIpDataForm() override;

    // The program turns the receiver on before it makes the window; without
    // it (widget tests) the window brings up nothing but its own parts.
    static void enableReceiver(bool on);
    static bool receiverEnabled();

    const RateHistory& adapterRateHistory() const override;
    uint64_t adapterLostFrames() const override;
    TrayIcon* tray() const { return trayIcon; }
    QMenu* trayPopup() const { return trayMenu; }
    int indicator() const { return indicatorStatus; }
    ReceiverStatus receiverStatus() const;

signals:
    // Delivery has stopped and the counters still hold (the teardown).
    void receiverStopping();

public slots:
    void setIndStatus(int status);
    void buttonSet_clicked();
    void lnbTypeComboBox_activated(int index);
    void buttonPower_toggled(bool on);
    void framePowerSetOn(bool on);
    void buttonAddPid_clicked();
    void checkBoxHex_stateChanged(int state);
    void buttonRemovePid_clicked();
    void radioButtonDefaultAddr_clicked();
    void radioButtonMACAddr_clicked();
    void radioButtonIPAddr_clicked();
    void buttonNew_clicked();
    void buttonEdit_clicked();
    void buttonRemove_clicked();
    void comboBoxProviders_activated(int index);

protected slots:
    virtual void languageChange();
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Ctrl+T: the statistics window.
    virtual void openStatistics();

private:
    void applyTuning(bool fromWidgets);
    void initForm();
    void bringUpCard();
    void loadProviders();
    void saveProviders();
    ProviderRecord providerFromPanels() const;
    void showProvider(const ProviderRecord& record);
    int confirmedProviderRow(const QString& caption, const QString& text);
    // The external tuning messages (WM_USER); true when consumed.
    bool winEvent(MSG* message, long* result);
    void showDefaultMac();
    void shutdownForm();

    CBDAManager* bdaManager = nullptr;   // owned by `card`
    tuner::CardControl* card = nullptr;  // owned
    FilterPages* filterPages = nullptr;  // child
    tuner::TuningPanel* tuningPanel = nullptr; // child; holds the applied tuning and the LNB state
    ProviderTable* providers = nullptr;  // owned
    SettingsStore* settingsStore = nullptr; // owned
    StatusPoller* statusPoller = nullptr;   // child; holds the rate history
    platform::qt::MessageWindow* messageWindow = nullptr; // child
    qint32 modelId = 0;
    TrayIcon* trayIcon = nullptr;   // owned
    QMenu* trayMenu = nullptr;      // owned, no parent
    qint32 statusTimerId = 0;
    quint8 defaultMac[6] = {};
    qint32 indicatorStatus = 0;     // matches the images the constructor sets
    RateHistory emptyHistory; // what the statistics window sees before the poller exists
    bool shutDown = false;
};
