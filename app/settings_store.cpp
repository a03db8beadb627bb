#include "app/settings_store.h"

#include "app/settings_file.h"

#include "decoder/decoder.h"
#include "platform/qt/messagebox.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QWidget>

#include <cstdlib>

namespace {

const char* const kModeButtons[] = {"radioButtonDefaultAddr", "radioButtonMACAddr", "radioButtonIPAddr"};

int decimalOrZero(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

template <class W>
W* child(QWidget* form, const QString& name)
{
    return form->findChild<W*>(name);
}

// An index outside the list leaves the selection alone, so the box never
// shows an empty item after a damaged file.
void selectItem(QComboBox* box, int index)
{
    if (box != nullptr && index >= 0 && index < box->count())
        box->setCurrentIndex(index);
}

int currentItem(QWidget* form, const char* name)
{
    auto* box = child<QComboBox>(form, name);
    return box != nullptr ? box->currentIndex() : 0;
}

void setText(QWidget* form, const char* name, const QString& text)
{
    if (auto* edit = child<QLineEdit>(form, name))
        edit->setText(text);
}

// The entries kept straight from one widget each, in the order of loading.
enum class Kind { Text, Item, Spin, Check };
struct WidgetEntry {
    const char* key;
    const char* widget;
    Kind kind;
    const char* fallback;
};
const WidgetEntry kWidgetEntries[] = {
    {"Settings/LOF1", "lineEditLOF1", Kind::Text, "9750"},
    {"Settings/LOF2", "lineEditLOF2", Kind::Text, "10600"},
    {"Settings/LOF_SW", "lineEditSwitch", Kind::Text, "11700"},
    {"Settings/MAC-Address-0", "lineEditMAC0", Kind::Text, ""},
    {"Settings/MAC-Address-1", "lineEditMAC1", Kind::Text, ""},
    {"Settings/MAC-Address-2", "lineEditMAC2", Kind::Text, ""},
    {"Settings/MAC-Address-3", "lineEditMAC3", Kind::Text, ""},
    {"Settings/MAC-Address-4", "lineEditMAC4", Kind::Text, ""},
    {"Settings/MAC-Address-5", "lineEditMAC5", Kind::Text, ""},
    {"Settings/IP-Address-0", "lineEditIP0", Kind::Text, ""},
    {"Settings/IP-Address-1", "lineEditIP1", Kind::Text, ""},
    {"Settings/IP-Address-2", "lineEditIP2", Kind::Text, ""},
    {"Settings/IP-Address-3", "lineEditIP3", Kind::Text, ""},
    {"Settings/DiSEqC-1.0", "groupBoxDiSEqC1_0", Kind::Check, "0"},
    {"Settings/MultiOption", "comboBoxDiSEqC10", Kind::Item, "0"},
    {"Settings/RepeatCount", "spinBoxTXCount", Kind::Spin, "0"},
    {"Settings/GapTime", "spinBoxGap", Kind::Spin, "50"},
    {"Settings/DiSEqC-1.2", "groupBoxDiSEqC1_2", Kind::Check, "0"},
    {"Settings/GotoPosition", "lineEditGoto", Kind::Text, ""},
    {"Settings/TXCount", "spinBoxTXCountMotor", Kind::Spin, "0"},
    {"Settings/RAW", "groupBoxRAW", Kind::Check, "0"},
    {"Settings/RAW0", "RAW0", Kind::Text, ""},
    {"Settings/RAW1", "RAW1", Kind::Text, ""},
    {"Settings/RAW2", "RAW2", Kind::Text, ""},
    {"Settings/RAW3", "RAW3", Kind::Text, ""},
    {"Settings/RAW4", "RAW4", Kind::Text, ""},
    {"Settings/RAW5", "RAW5", Kind::Text, ""},
    {"Settings/StartAndHide", "checkBoxStartAndHide", Kind::Check, "0"},
};

void loadEntry(QWidget* form, const QSettings& s, const WidgetEntry& e)
{
    switch (e.kind) {
    case Kind::Text:
        setText(form, e.widget, readSettingString(s, e.key, e.fallback));
        break;
    case Kind::Item:
        selectItem(child<QComboBox>(form, e.widget), readSettingInteger(s, e.key, atoi(e.fallback)));
        break;
    case Kind::Spin:
        if (auto* spin = child<QSpinBox>(form, e.widget))
            spin->setValue(readSettingInteger(s, e.key, atoi(e.fallback)));
        break;
    case Kind::Check: {
        const bool on = readSettingInteger(s, e.key, atoi(e.fallback)) != 0;
        if (auto* box = child<QGroupBox>(form, e.widget))
            box->setChecked(on);
        else if (auto* button = child<QAbstractButton>(form, e.widget))
            button->setChecked(on);
        break;
    }
    }
}

bool isChecked(QWidget* form, const char* name)
{
    if (auto* box = child<QGroupBox>(form, name))
        return box->isChecked();
    auto* button = child<QAbstractButton>(form, name);
    return button != nullptr && button->isChecked();
}

// Each with the write of its type, so the check boxes store booleans.
void saveEntry(QWidget* form, QSettings& s, const WidgetEntry& e)
{
    switch (e.kind) {
    case Kind::Text: {
        auto* edit = child<QLineEdit>(form, e.widget);
        s.setValue(e.key, edit != nullptr ? edit->text() : QString());
        break;
    }
    case Kind::Item:
        s.setValue(e.key, currentItem(form, e.widget));
        break;
    case Kind::Spin: {
        auto* spin = child<QSpinBox>(form, e.widget);
        s.setValue(e.key, spin != nullptr ? spin->value() : 0);
        break;
    }
    case Kind::Check:
        s.setValue(e.key, isChecked(form, e.widget));
        break;
    }
}

QString storePath(const char* application)
{
    const QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KestGroup"),
                      QString::fromLatin1(application));
    return s.fileName();
}

// The driver's two words: three address bytes each, high byte first, the
// lowest byte always 0.
quint32 packDriverWord(const uint8_t* bytes)
{
    return (quint32(bytes[2]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[0]) << 8);
}

} // namespace

SettingsStore::SettingsStore(QWidget* form, const SettingsFields& fields, SettingsHooks hooks)
    : QObject(form), form_(form), fields_(fields), hooks_(std::move(hooks))
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
    setText(form_, "lineEditFreq", QString::number(fields_.currentFrequency));
    fields_.currentSymbolRate = decimalOrZero(readSettingString(s, "Settings/Symbol-Rate", "24000"));
    setText(form_, "lineEditSmbRate", QString::number(fields_.currentSymbolRate));

    fields_.currentPolarisation = readSettingInteger(s, "Settings/Polarisation", 0) != 0;
    selectItem(child<QComboBox>(form_, "comboBoxPolarisation"), fields_.currentPolarisation ? 1 : 0);
    fields_.currentModulation = static_cast<quint8>(readSettingInteger(s, "Settings/Modulation", 0) & 0xFF);
    selectItem(child<QComboBox>(form_, "comboBoxModulation"), fields_.currentModulation);
    fields_.currentFec = readSettingInteger(s, "Settings/FEC", 0);
    selectItem(child<QComboBox>(form_, "comboBoxFEC"), fields_.currentFec);

    // The flag first: the power button's toggled slot reads it.
    fields_.lnbPowerOn = readSettingInteger(s, "Settings/LNBPower", 1) != 0;
    if (fields_.lnbPowerOn) {
        if (auto* power = child<QPushButton>(form_, "buttonPower"))
            power->setChecked(true);
    } else if (hooks_.lnbPowerOff) {
        hooks_.lnbPowerOff();
    }

    // The type's preset first, then the stored frequencies over it.
    auto* lnbType = child<QComboBox>(form_, "lnbTypeComboBox");
    selectItem(lnbType, readSettingInteger(s, "Settings/LNBType", 0));
    if (hooks_.lnbTypeActivated)
        hooks_.lnbTypeActivated(lnbType != nullptr ? lnbType->currentIndex() : 0);
    for (const WidgetEntry& entry : kWidgetEntries)
        loadEntry(form_, s, entry);

    const int mode = readSettingInteger(s, "Settings/MPEFilter", 0);
    if (mode >= 0 && mode < 3) {
        if (auto* button = child<QRadioButton>(form_, kModeButtons[mode]))
            button->setChecked(true);
        if (hooks_.filterModeSelected)
            hooks_.filterModeSelected(mode);
    }

    if (hooks_.loadPidList)
        hooks_.loadPidList(readSettingString(s, "Settings/ActivePIDs", {}));
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
    s.setValue("Settings/LNBPower", fields_.lnbPowerOn);
    s.setValue("Settings/LNBType", currentItem(form_, "lnbTypeComboBox"));
    for (const WidgetEntry& entry : kWidgetEntries)
        saveEntry(form_, s, entry);

    int mode = -1;
    for (int id = 0; id < 3; ++id)
        if (isChecked(form_, kModeButtons[id]))
            mode = id;
    s.setValue("Settings/MPEFilter", mode);

    QString pids;
    if (auto* list = child<QListWidget>(form_, "listSelectedPids"))
        for (int i = 0; i < list->count(); ++i)
            pids += list->item(i)->text() + '\n';
    s.setValue("Settings/ActivePIDs", pids);
    s.setValue("Settings/Provider", currentItem(form_, "comboBoxProviders"));
    return true;
}

bool SettingsStore::saveSettings()
{
    try {
        const bool main = replaceSettingsFile(settingsPath(), [this](QSettings& s) { return writeMain(s); });
        const uint8_t* mac = decoderState().macFilter;
        const bool driver = replaceSettingsFile(driverSettingsPath(), [mac](QSettings& s) {
            s.setValue("DriverData/dwMAC_HIGH", packDriverWord(mac));
            s.setValue("DriverData/dwMAC_LOW", packDriverWord(mac + 3));
            return true;
        });
        return main && driver;
    } catch (...) {
        return false;
    }
}
