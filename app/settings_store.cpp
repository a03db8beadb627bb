#include "app/settings_store.h"

#include "app/settings_file.h"

#include "decoder/decoder.h"
#include "platform/instance/instance_name.h"
#include "platform/qt/messagebox.h"
#include "platform/win32/debug.h"
#include "ui_kestipdataform.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QWidget>

#include <array>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <variant>
#include <vector>

namespace {

int decimalOrZero(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

// An index outside the list leaves the selection alone, so the box never
// shows an empty item after a damaged file.
void selectItem(QComboBox* box, int index)
{
    if (index >= 0 && index < box->count())
        box->setCurrentIndex(index);
}

// The entries kept straight from one widget each, in the order of loading.
// The kind of widget gives the type the value is stored as, so the check
// boxes store booleans.
using EntryWidget = std::variant<QLineEdit*, QComboBox*, QSpinBox*, QGroupBox*, QAbstractButton*>;
struct WidgetEntry {
    const char* key;
    EntryWidget widget;
    const char* fallback;
};

std::vector<WidgetEntry> widgetEntries(const Ui::KestIpDataForm& ui)
{
    return {
        {"Settings/LOF1", ui.lineEditLOF1, "9750"},
        {"Settings/LOF2", ui.lineEditLOF2, "10600"},
        {"Settings/LOF_SW", ui.lineEditSwitch, "11700"},
        {"Settings/MAC-Address-0", ui.lineEditMAC0, ""},
        {"Settings/MAC-Address-1", ui.lineEditMAC1, ""},
        {"Settings/MAC-Address-2", ui.lineEditMAC2, ""},
        {"Settings/MAC-Address-3", ui.lineEditMAC3, ""},
        {"Settings/MAC-Address-4", ui.lineEditMAC4, ""},
        {"Settings/MAC-Address-5", ui.lineEditMAC5, ""},
        {"Settings/IP-Address-0", ui.lineEditIP0, ""},
        {"Settings/IP-Address-1", ui.lineEditIP1, ""},
        {"Settings/IP-Address-2", ui.lineEditIP2, ""},
        {"Settings/IP-Address-3", ui.lineEditIP3, ""},
        {"Settings/DiSEqC-1.0", ui.groupBoxDiSEqC1_0, "0"},
        {"Settings/MultiOption", ui.comboBoxDiSEqC10, "0"},
        {"Settings/RepeatCount", ui.spinBoxTXCount, "0"},
        {"Settings/GapTime", ui.spinBoxGap, "50"},
        {"Settings/DiSEqC-1.2", ui.groupBoxDiSEqC1_2, "0"},
        {"Settings/GotoPosition", ui.lineEditGoto, ""},
        {"Settings/TXCount", ui.spinBoxTXCountMotor, "0"},
        {"Settings/RAW", ui.groupBoxRAW, "0"},
        {"Settings/RAW0", ui.RAW0, ""},
        {"Settings/RAW1", ui.RAW1, ""},
        {"Settings/RAW2", ui.RAW2, ""},
        {"Settings/RAW3", ui.RAW3, ""},
        {"Settings/RAW4", ui.RAW4, ""},
        {"Settings/RAW5", ui.RAW5, ""},
        {"Settings/StartAndHide", ui.checkBoxStartAndHide, "0"},
    };
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

void loadEntry(const QSettings& s, const WidgetEntry& e)
{
    const auto number = [&] { return readSettingInteger(s, e.key, atoi(e.fallback)); };
    std::visit(Overloaded{
                   [&](QLineEdit* edit) { edit->setText(readSettingString(s, e.key, e.fallback)); },
                   [&](QComboBox* box) { selectItem(box, number()); },
                   [&](QSpinBox* spin) { spin->setValue(number()); },
                   [&](QGroupBox* box) { box->setChecked(number() != 0); },
                   [&](QAbstractButton* button) { button->setChecked(number() != 0); },
               },
               e.widget);
}

void saveEntry(QSettings& s, const WidgetEntry& e)
{
    std::visit(Overloaded{
                   [&](QLineEdit* edit) { s.setValue(e.key, edit->text()); },
                   [&](QComboBox* box) { s.setValue(e.key, box->currentIndex()); },
                   [&](QSpinBox* spin) { s.setValue(e.key, spin->value()); },
                   [&](QGroupBox* box) { s.setValue(e.key, box->isChecked()); },
                   [&](QAbstractButton* button) { s.setValue(e.key, button->isChecked()); },
               },
               e.widget);
}

// The address filter's modes in the order of their ids.
std::array<QRadioButton*, 3> modeButtons(const Ui::KestIpDataForm& ui)
{
    return {ui.radioButtonDefaultAddr, ui.radioButtonMACAddr, ui.radioButtonIPAddr};
}

// A named copy keeps both stores apart from the other copies': Kest-IPData-NAME, SatNic-NAME.
QString storePath(const char* application)
{
    const std::string& name = instance::current();
    const QString file = QString::fromLatin1(application) + (name.empty() ? QString() : "-" + QString::fromStdString(name));
    const QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KestGroup"), file);
    return s.fileName();
}

// The driver's two words: three address bytes each, high byte first, the
// lowest byte always 0.
quint32 packDriverWord(const uint8_t* bytes)
{
    return (quint32(bytes[2]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[0]) << 8);
}

bool saveHasFailed = false;

// One box and one debug line for a store that cannot be saved.
void tellSaveProblem(QWidget* parent, const QString& path, const QString& why, bool atStart)
{
    const QString where = QDir::toNativeSeparators(path);
    const QString text = atStart
        ? QCoreApplication::translate("KestIpDataForm", "The settings cannot be saved in %1: %2. Changes made "
                                                        "while the program runs will be lost.")
              .arg(where, why)
        : QCoreApplication::translate("KestIpDataForm", "The settings could not be saved in %1: %2.").arg(where, why);
    const QByteArray line = (atStart ? "SettingsStore: cannot save " : "SettingsStore: save failed: ")
        + QFile::encodeName(path) + ": " + why.toLocal8Bit() + '\n';
    OutputDebugStringA(line.constData());
    platform::qt::messageBox(parent, QMessageBox::Warning, QCoreApplication::translate("KestIpDataForm", "Error"),
                             text);
}

} // namespace

SettingsStore::SettingsStore(QWidget* form, const Ui::KestIpDataForm& ui, const SettingsFields& fields,
                             SettingsHooks hooks)
    : QObject(form), form_(form), ui_(ui), fields_(fields), hooks_(std::move(hooks))
{
}

QString SettingsStore::settingsPath() { return storePath("Kest-IPData"); }

QString SettingsStore::driverSettingsPath() { return storePath("SatNic"); }

QStringList SettingsStore::setAsideUnreadableStores(QWidget* parent)
{
    QStringList movedTo;
    for (const QString& path : {settingsPath(), driverSettingsPath()}) {
        if (!settingsFileUnreadable(path))
            continue;
        const QString aside = setSettingsFileAside(path, QDateTime::currentDateTime());
        const QString text = aside.isEmpty()
            ? QCoreApplication::translate("KestIpDataForm",
                                          "The settings file %1 cannot be read and could not be moved aside. "
                                          "The program starts with the default settings.")
                  .arg(QDir::toNativeSeparators(path))
            : QCoreApplication::translate("KestIpDataForm",
                                          "The settings file %1 cannot be read. It was moved to %2, and the "
                                          "program starts with the default settings.")
                  .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(aside));
        platform::qt::messageBox(parent, QMessageBox::Warning,
                                 QCoreApplication::translate("KestIpDataForm", "Error"), text);
        if (!aside.isEmpty())
            movedTo << aside;
    }
    return movedTo;
}

bool SettingsStore::warnIfStoresCannotBeSaved(QWidget* parent)
{
    for (const QString& path : {settingsPath(), driverSettingsPath()}) {
        const QString why = settingsSaveProblem(path);
        if (!why.isEmpty()) {
            tellSaveProblem(parent, path, why, true);
            return false;
        }
    }
    return true;
}

bool SettingsStore::saveFailed() { return saveHasFailed; }

void SettingsStore::loadSettings()
{
    try {
        const QSettings settings(settingsPath(), QSettings::IniFormat);
        readInto(settings);
    } catch (...) {
        // A settings file that cannot be read leaves what the widgets show.
    }
}

void SettingsStore::readInto(const QSettings& s)
{
    fields_.currentFrequency = decimalOrZero(readSettingString(s, "Settings/Freqency", "12562"));
    ui_.lineEditFreq->setText(QString::number(fields_.currentFrequency));
    fields_.currentSymbolRate = decimalOrZero(readSettingString(s, "Settings/Symbol-Rate", "24000"));
    ui_.lineEditSmbRate->setText(QString::number(fields_.currentSymbolRate));

    fields_.currentPolarisation = readSettingInteger(s, "Settings/Polarisation", 0) != 0;
    selectItem(ui_.comboBoxPolarisation, fields_.currentPolarisation ? 1 : 0);
    fields_.currentModulation = static_cast<quint8>(readSettingInteger(s, "Settings/Modulation", 0) & 0xFF);
    selectItem(ui_.comboBoxModulation, fields_.currentModulation);
    fields_.currentFec = readSettingInteger(s, "Settings/FEC", 0);
    selectItem(ui_.comboBoxFEC, fields_.currentFec);
    const int streamId = readSettingInteger(s, "Settings/StreamID", -1);
    fields_.currentStreamId = streamId >= -1 && streamId <= 255 ? streamId : -1;
    fields_.currentPlsMode = readSettingInteger(s, "Settings/PLSMode", 1) == 0 ? 0 : 1;
    fields_.currentPlsCode = readSettingInteger(s, "Settings/PLSCode", 0);
    fields_.currentBasebandFrames = readSettingInteger(s, "Settings/BBFrames", 0) != 0;
    if (hooks_.showStream)
        hooks_.showStream();

    // The flag first: the power button's toggled slot reads it.
    fields_.lnbPowerOn = readSettingInteger(s, "Settings/LNBPower", 1) != 0;
    if (fields_.lnbPowerOn)
        ui_.buttonPower->setChecked(true);
    else if (hooks_.lnbPowerOff)
        hooks_.lnbPowerOff();

    // The type's preset first, then the stored frequencies over it.
    selectItem(ui_.lnbTypeComboBox, readSettingInteger(s, "Settings/LNBType", 0));
    if (hooks_.lnbTypeActivated)
        hooks_.lnbTypeActivated(ui_.lnbTypeComboBox->currentIndex());
    for (const WidgetEntry& entry : widgetEntries(ui_))
        loadEntry(s, entry);

    const int mode = readSettingInteger(s, "Settings/MPEFilter", 0);
    if (mode >= 0 && mode < 3) {
        modeButtons(ui_)[mode]->setChecked(true);
        if (hooks_.filterModeSelected)
            hooks_.filterModeSelected(mode);
    }

    if (hooks_.loadPidList)
        hooks_.loadPidList(readSettingString(s, "Settings/ActivePIDs", {}));
    if (hooks_.loadUlePidList)
        hooks_.loadUlePidList(readSettingString(s, "Settings/ULEPIDs", {}));
}

bool SettingsStore::writeMain(QSettings& s) const
{
    QWidget* window = form_->window();
    s.setValue("Geometry/MainwindowX", window->x());
    s.setValue("Geometry/MainwindowY", window->y());
    s.setValue("Geometry/MainwindowWidth", window->width());
    s.setValue("Geometry/MainwindowHeight", window->height());
    s.setValue("Geometry/MainwindowMaximized", window->isMaximized());

    s.setValue("Settings/Freqency", QString::asprintf("%d", fields_.currentFrequency));
    s.setValue("Settings/Symbol-Rate", QString::asprintf("%d", fields_.currentSymbolRate));
    s.setValue("Settings/Polarisation", fields_.currentPolarisation);
    s.setValue("Settings/Modulation", int(fields_.currentModulation));
    s.setValue("Settings/FEC", fields_.currentFec);
    // Only when not the default, so that a file without a stream reads in older versions as it did.
    const auto writeUnlessDefault = [&s](const char* key, int value, int fallback) {
        if (value != fallback)
            s.setValue(key, value);
        else
            s.remove(key);
    };
    writeUnlessDefault("Settings/StreamID", fields_.currentStreamId, -1);
    writeUnlessDefault("Settings/PLSMode", fields_.currentPlsMode, 1);
    writeUnlessDefault("Settings/PLSCode", fields_.currentPlsCode, 0);
    writeUnlessDefault("Settings/BBFrames", fields_.currentBasebandFrames ? 1 : 0, 0);
    s.setValue("Settings/LNBPower", fields_.lnbPowerOn);
    s.setValue("Settings/LNBType", ui_.lnbTypeComboBox->currentIndex());
    for (const WidgetEntry& entry : widgetEntries(ui_))
        saveEntry(s, entry);

    int mode = -1;
    for (int id = 0; id < 3; ++id)
        if (modeButtons(ui_)[id]->isChecked())
            mode = id;
    s.setValue("Settings/MPEFilter", mode);

    QString pids;
    if (hooks_.storedPidList) {
        pids = hooks_.storedPidList();
    } else {
        for (int i = 0; i < ui_.listSelectedPids->count(); ++i)
            pids += ui_.listSelectedPids->item(i)->text() + '\n';
    }
    s.setValue("Settings/ActivePIDs", pids);
    // Beside the MPE PIDs, not among them: an older version reads those as before.
    s.setValue("Settings/ULEPIDs", hooks_.storedUlePidList ? hooks_.storedUlePidList() : QString());
    s.setValue("Settings/Provider", ui_.comboBoxProviders->currentIndex());
    return true;
}

bool SettingsStore::saveSettings()
{
    QString path = settingsPath();
    QString why;
    try {
        const bool main = replaceSettingsFile(path, [this](QSettings& s) { return writeMain(s); }, &why);
        const uint8_t* mac = decoderState().macFilter;
        QString driverWhy;
        const bool driver = replaceSettingsFile(
            driverSettingsPath(),
            [mac](QSettings& s) {
                s.setValue("DriverData/dwMAC_HIGH", packDriverWord(mac));
                s.setValue("DriverData/dwMAC_LOW", packDriverWord(mac + 3));
                return true;
            },
            &driverWhy);
        if (main && driver)
            return true;
        if (main) {
            path = driverSettingsPath();
            why = driverWhy;
        }
    } catch (...) {
        why = QString::fromLocal8Bit(std::strerror(ENOMEM));
    }
    saveHasFailed = true;
    tellSaveProblem(form_, path, why, false);
    return false;
}
