// The main window's settings: read once while the window comes up, written
// once when it goes down.
//
// Store: QSettings("KestGroup", "Kest-IPData") in INI format, groups Settings
// and Geometry; the station address for the adapter driver goes to
// QSettings("KestGroup", "SatNic"), group DriverData. Works on the main
// window's widgets (Ui::KestIpDataForm). Every file is replaced as a whole
// through a copy, so a save that dies half-way leaves the previous settings.
#pragma once

#include "app/settings_file.h"

#include <QObject>
#include <QString>

#include <functional>

class QSettings;
class QWidget;
namespace Ui {
class KestIpDataForm;
}

// The form's state fields the settings restore and save (the applied tuning
// and the LNB power flag).
struct SettingsFields {
    qint32& currentFrequency;  // MHz
    qint32& currentSymbolRate; // kS/s
    bool& currentPolarisation;
    quint8& currentModulation;
    qint32& currentFec;
    bool& lnbPowerOn;
    // The DVB-S2 stream selection; stored only when it is not the default.
    qint32& currentStreamId;
    qint32& currentPlsMode;
    qint32& currentPlsCode;
    bool& currentBasebandFrames;
};

// Form operations that loading runs; unset ones are skipped.
struct SettingsHooks {
    std::function<void()> lnbPowerOff;             // Power(0) on the card
    std::function<void(int)> lnbTypeActivated;     // lnbTypeComboBox_activated
    std::function<void(int)> filterModeSelected;   // the radio button slot of id 0, 1 or 2
    std::function<void(const QString&)> loadPidList;    // "Settings/ActivePIDs": the MPE PIDs
    std::function<void(const QString&)> loadUlePidList; // "Settings/ULEPIDs", after them
    // What saving writes under those two keys; without them the items of
    // listSelectedPids as they read, and no ULE PIDs.
    std::function<QString()> storedPidList;
    std::function<QString()> storedUlePidList;
    std::function<void()> showStream;              // the stream fields into the Stream row
};

class SettingsStore : public QObject {
    Q_OBJECT
public:
    SettingsStore(QWidget* form, const Ui::KestIpDataForm& ui, const SettingsFields& fields, SettingsHooks hooks);

    // Where the two stores live ($XDG_CONFIG_HOME/KestGroup/...).
    static QString settingsPath();
    static QString driverSettingsPath();
    // Before anything reads them: a store that cannot be read (it would also
    // refuse every save) is moved aside in its folder and the user told so
    // once, with `parent` over the box; the program then starts from the
    // defaults. The paths the files were moved to.
    static QStringList setAsideUnreadableStores(QWidget* parent = nullptr);
    // At start: when a store cannot be saved where it lives (the folder takes
    // no file, the file is a folder or read-only), the user is told once, in
    // a box and the debug output, that this run's changes will be lost.
    // False then.
    static bool warnIfStoresCannotBeSaved(QWidget* parent = nullptr);
    // Whether a saveSettings() of this run failed (the program's exit status
    // says so).
    static bool saveFailed();

    // The Settings group into the widgets and fields, in the order in which
    // the slots they call expect each other.
    void loadSettings();
    // Geometry, the Settings group, then the two driver values from the
    // decoder's macFilter. False when a file could not be replaced; the user
    // is told so once, in a box and the debug output.
    bool saveSettings();

private:
    void readInto(const QSettings& settings);
    bool writeMain(QSettings& settings) const;

    QWidget* form_;
    const Ui::KestIpDataForm& ui_;
    SettingsFields fields_;
    SettingsHooks hooks_;
};
