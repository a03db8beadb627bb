#pragma once
// KestIpDataForm: the receiver's main window. The widgets come from
// kestipdataform.ui; the form also holds the receiver's run-time state (the
// applied tuning, LNB power, model, rate statistics) and owns the tray icon.
#include "ui_kestipdataform.h"   // generated from kestipdataform.ui

#include <QDialog>
#include <QtGlobal>

class CBDAManager;
class LedMeter;
class QKeyEvent;
class QMenu;
class QTimerEvent;
class QwtPlotMarker;
class TrayIcon;

// Input patterns of the line edits.
namespace KestPatterns {
constexpr char Decimal5[] = "[0-9][0-9][0-9][0-9][0-9]";
constexpr char Hex4[] = "[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]";
constexpr char Hex2[] = "[0-9A-Fa-f][0-9A-Fa-f]";
} // namespace KestPatterns

// Colour bands of the level (AGC) and quality (SNR) meters for a card model.
void addLedMeterBands(LedMeter& level, LedMeter& quality, int modelId);
// The card's MAC address as the filter page shows it.
QString defaultMacText(const quint8 mac[6]);

class KestIpDataForm : public QDialog, public Ui::KestIpDataForm {
    Q_OBJECT

public:
    static constexpr int RateHistorySize = 241;

    explicit KestIpDataForm(QWidget* parent = nullptr, const char* name = nullptr,
                            bool modal = false, Qt::WindowFlags flags = {});
    ~KestIpDataForm() override;

    TrayIcon* tray() const { return trayIcon; }
    QMenu* trayPopup() const { return trayMenu; }
    int indicator() const { return indicatorStatus; }

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
    void showDefaultMac();
    void shutdownForm();

    CBDAManager* bdaManager = nullptr;
    qint32 modelId = 0;
    TrayIcon* trayIcon = nullptr;   // owned
    QMenu* trayMenu = nullptr;      // owned, no parent
    qint32 statusTimerId = 0;
    quint8 defaultMac[6] = {};
    qint32 currentFrequency = 0;    // MHz
    qint32 currentSymbolRate = 0;   // kS/s
    bool currentPolarisation = false;
    quint8 currentModulation = 0;
    qint32 currentFec = 0;
    bool lnbPowerOn = false;
    bool tuningBusy = false;
    bool tuningRejected = false;
    qint32 indicatorStatus = 0;     // matches the images the constructor sets
    qint64 lastByteCount = 0;
    double unlockedMs = 0;
    double rateHistory[RateHistorySize] = {};
    quint32 ratePeak = 0;
    quint32 rateMinimum = 0;
    quint32 rateAverage = 0;
    QwtPlotMarker* averageMarker = nullptr;
    bool shutDown = false;
};
