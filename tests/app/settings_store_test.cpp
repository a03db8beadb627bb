// The settings store on the main window's widgets: defaults of a first start,
// the round trip, damaged files, and saves that fail or die half-way.
#include "app/settings_store.h"
#include "decoder/decoder.h"
#include "tests/form_ui.h"
#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

QTemporaryDir& configHome()
{
    static QTemporaryDir dir;
    return dir;
}

QApplication& app()
{
    // Before the first QSettings: Qt keeps the configuration path it finds first.
    qputenv("XDG_CONFIG_HOME", configHome().path().toUtf8());
    return offscreenApplication("settings_store_tests");
}

struct Form : FormUi {
    Form() : FormUi(app())
    {
        QObject::connect(power, &QPushButton::toggled,
                         [this](bool on) { log.push_back(on ? "power on" : "power off"); });
        SettingsHooks hooks;
        hooks.lnbPowerOff = [this] { log.push_back("Power(0)"); };
        hooks.lnbTypeActivated = [this](int type) {
            log.push_back("type " + std::to_string(type));
            ui.lineEditLOF1->setText("preset"); // replaced by the stored frequency
        };
        hooks.filterModeSelected = [this](int id) { log.push_back("mode " + std::to_string(id)); };
        hooks.loadPidList = [this](const QString& text) { log.push_back("pids " + text.toStdString()); };
        store = new SettingsStore(&widget, ui,
                                  SettingsFields{frequency, symbolRate, polarisationOn, modulationItem, fecItem,
                                                 lnbPowerOn, streamId, plsMode, plsCode, basebandFrames},
                                  hooks);
    }

    qint32 frequency = -1, symbolRate = -1, fecItem = -1;
    bool polarisationOn = true, lnbPowerOn = false;
    quint8 modulationItem = 9;
    qint32 streamId = 9, plsMode = 9, plsCode = 9;
    bool basebandFrames = true;
    QPushButton* power = ui.buttonPower;
    std::vector<std::string> log;
    SettingsStore* store;
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        QDir(configHome().path() + "/KestGroup").removeRecursively();
        std::memset(g_decoder.macFilter, 0, sizeof g_decoder.macFilter);
    }
};

} // namespace

TEST_F(SettingsStoreTest, FirstStartTakesTheDefaultsInOrder)
{
    EXPECT_EQ(SettingsStore::settingsPath(), configHome().path() + "/KestGroup/Kest-IPData.conf");
    Form f;
    f.store->loadSettings();
    EXPECT_EQ(f.frequency, 12562);
    EXPECT_EQ(f.ui.lineEditFreq->text(), "12562");
    EXPECT_TRUE(f.lnbPowerOn && f.power->isChecked());
    EXPECT_EQ(f.ui.lineEditLOF1->text(), "9750");
    EXPECT_EQ(f.ui.spinBoxGap->value(), 50);
    EXPECT_TRUE(f.ui.radioButtonDefaultAddr->isChecked());
    // Power before the LNB type (its preset), the address mode before the PIDs.
    EXPECT_EQ(f.log, (std::vector<std::string>{"power on", "type 0", "mode 0", "pids "}));
}

TEST_F(SettingsStoreTest, RoundTrip)
{
    writeFile(SettingsStore::settingsPath(), "[Other]\nKept=yes\n");
    {
        Form f;
        f.frequency = 11954;
        f.fecItem = 7;
        f.ui.lineEditFreq->setText("10000"); // typed, never applied
        f.ui.lnbTypeComboBox->setCurrentIndex(3);
        f.ui.lineEditLOF1->setText("5150");
        f.ui.groupBoxDiSEqC1_2->setChecked(true);
        f.ui.checkBoxStartAndHide->setChecked(true);
        f.ui.radioButtonIPAddr->setChecked(true);
        f.ui.listSelectedPids->addItems({"1234", "4321"});
        const uint8_t mac[6] = {0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
        std::memcpy(g_decoder.macFilter, mac, 6);
        EXPECT_TRUE(f.store->saveSettings());
    }
    Form f;
    f.store->loadSettings();
    EXPECT_EQ(f.frequency, 11954);
    EXPECT_EQ(f.ui.lineEditFreq->text(), "11954");
    EXPECT_EQ(f.ui.comboBoxPolarisation->currentIndex(), 1);
    EXPECT_EQ(f.ui.comboBoxFEC->currentIndex(), 7);
    EXPECT_EQ(f.ui.lineEditLOF1->text(), "5150");
    EXPECT_TRUE(f.ui.groupBoxDiSEqC1_2->isChecked());
    EXPECT_TRUE(f.ui.checkBoxStartAndHide->isChecked());
    EXPECT_TRUE(f.ui.radioButtonIPAddr->isChecked());
    EXPECT_FALSE(f.power->isChecked());
    EXPECT_EQ(f.log, (std::vector<std::string>{"Power(0)", "type 3", "mode 2", "pids 1234\n4321\n"}));

    EXPECT_EQ(QSettings(SettingsStore::settingsPath(), QSettings::IniFormat).value("Other/Kept"), "yes")
        << "entries of others survive a save";
    QSettings driver(SettingsStore::driverSettingsPath(), QSettings::IniFormat);
    EXPECT_EQ(driver.value("DriverData/dwMAC_HIGH").toUInt(), 0x0B0A0200u);
    EXPECT_EQ(driver.value("DriverData/dwMAC_LOW").toUInt(), 0x0E0D0C00u);
}

TEST_F(SettingsStoreTest, TheStreamSelectionIsWrittenOnlyWhenNotTheDefault)
{
    {
        Form f;
        f.store->loadSettings();
        EXPECT_EQ(f.streamId, -1);
        EXPECT_EQ(f.plsMode, 1);
        EXPECT_EQ(f.plsCode, 0);
        EXPECT_FALSE(f.basebandFrames);
        f.streamId = 3;
        f.plsMode = 0;
        f.plsCode = 1024;
        f.basebandFrames = true;
        ASSERT_TRUE(f.store->saveSettings());
        const QByteArray text = fileBytes(SettingsStore::settingsPath());
        for (const char* line : {"StreamID=3\n", "PLSMode=0\n", "PLSCode=1024\n", "BBFrames=1\n"})
            EXPECT_TRUE(text.contains(line)) << line << text.constData();
    }
    {
        Form f;
        f.store->loadSettings();
        EXPECT_EQ(f.streamId, 3);
        EXPECT_EQ(f.plsMode, 0);
        EXPECT_EQ(f.plsCode, 1024);
        EXPECT_TRUE(f.basebandFrames);
        f.streamId = -1;
        f.plsMode = 1;
        f.plsCode = 0;
        f.basebandFrames = false;
        ASSERT_TRUE(f.store->saveSettings());
    }
    const QByteArray text = fileBytes(SettingsStore::settingsPath());
    for (const char* key : {"StreamID", "PLSMode", "PLSCode", "BBFrames"})
        EXPECT_FALSE(text.contains(key)) << key << " back at its default leaves the file\n" << text.constData();
}

TEST_F(SettingsStoreTest, DamagedValuesGiveDefaults)
{
    writeFile(SettingsStore::settingsPath(),
              "[Settings]\nFreqency=12x45\nFEC=99\nLNBPower=perhaps\n"
              "GapTime=fifty\nLNBType=-3\nMPEFilter=7\nLOF1=9750, 10600\nRepeatCount=500\n"
              "DiSEqC-1.0=TRUE\nLOF2=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x3Foo)\n"
              "LOF_SW=@Variant(\\0\\0\\0\\x46\\xff\\xff)\nRAW0=@Variant(\\0\\0\\0\\x48\\0\\0\\0\\xff)\n"
              "\x01\xff\xfe=\n[Geometry\n==\n");
    Form f;
    f.ui.radioButtonMACAddr->setChecked(true);
    f.store->loadSettings();
    EXPECT_EQ(f.frequency, 0) << "a frequency that is no number is 0";
    EXPECT_EQ(f.fecItem, 99) << "values are not range-checked";
    EXPECT_EQ(f.ui.comboBoxFEC->currentIndex(), 0) << "the box ignores an index it does not have";
    EXPECT_EQ(f.ui.spinBoxGap->value(), 50);
    EXPECT_TRUE(f.lnbPowerOn);
    EXPECT_EQ(f.ui.spinBoxGap->value(), 50);
    EXPECT_EQ(f.ui.spinBoxTXCount->value(), 20) << "the spin box clamps";
    EXPECT_TRUE(f.ui.groupBoxDiSEqC1_0->isChecked());
    EXPECT_TRUE(f.ui.radioButtonMACAddr->isChecked()) << "an unknown mode selects nothing";
    EXPECT_EQ(f.ui.lineEditLOF1->text(), "9750, 10600");
    EXPECT_EQ(f.ui.lineEditLOF2->text(), "10600") << "a value that is no text";
    EXPECT_EQ(f.log, (std::vector<std::string>{"power on", "type 0", "pids "}));

    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919 + 13) & 0xFF));
    writeFile(SettingsStore::settingsPath(), garbage);
    Form g;
    g.store->loadSettings();
    EXPECT_EQ(g.symbolRate, 24000);
}

TEST_F(SettingsStoreTest, RefusedOrDyingSaveLeavesTheOldFile)
{
    const QString path = SettingsStore::settingsPath();
    const QByteArray old = "[Settings]\nFreqency=11111\n";
    writeFile(path, old);
    EXPECT_FALSE(replaceSettingsFile(path, [](QSettings& s) {
        s.setValue("Settings/Freqency", "22222");
        return false;
    }));
    EXPECT_EQ(fileBytes(path), old);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{"Kest-IPData.conf"})
        << "no copy is left behind";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        replaceSettingsFile(path, [](QSettings& s) {
            s.setValue("Settings/Freqency", "22222");
            s.sync(); // the new values are on disk, in the copy
            _exit(3);
            return true;
        });
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(fileBytes(path), old);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Kest-IPData.conf"})
        << "the dead save's copy lies in the temporary folder";
    // A replacement a save left when it died just before its rename.
    writeFile(QFileInfo(path).absolutePath() + "/.Kest-IPData.conf.kest-new-x1Y2z3", "[Settings]\n");
    Form f;
    EXPECT_TRUE(f.store->saveSettings());
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"Kest-IPData.conf", "SatNic.conf"}))
        << "the next save clears the replacement left behind";
}

// QSettings decodes @Variant and @DateTime values through escapes, quotes, line
// continuations and list commas; the check before it must see every one.
TEST_F(SettingsStoreTest, SerializedValuesAreFoundWhateverTheirEscapes)
{
    const QByteArray five = "\\0\\0\\0\\x2\\0\\0\\0\\x5)";
    const QByteArray samples[] = {
        "@Variant(" + five,
        "\\x40Variant(" + five,
        "@\\x56\\x61riant(" + five,
        "\"@Variant(" + five + "\"",
        "\\100Variant(" + five,
        "\\x10040Variant(" + five,
        "\\x40\\xVariant(" + five, // an \x without digits makes nothing
        "@Var\\\niant(" + five,
        "@DateTime(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)",
        "text, @Variant(" + five,
    };
    int index = 0;
    for (const QByteArray& sample : samples) {
        const QByteArray text = "[Settings]\nValue=" + sample + "\n";
        const QString path = configHome().path() + QStringLiteral("/sample%1.conf").arg(index++);
        writeFile(path, text);
        const QVariant read = QSettings(path, QSettings::IniFormat).value("Settings/Value");
        const QVariant decoded = read.type() == QVariant::List ? read.toList().last() : read;
        ASSERT_EQ(decoded.type(), QVariant::Int) << "Qt no longer decodes " << sample.constData();
        EXPECT_TRUE(holdsSerializedValues(text)) << sample.constData();
        EXPECT_TRUE(settingsTextUnreadable(text)) << sample.constData();
    }
    for (const QByteArray plain : {"@@", "@ByteArray(abc)", "12562", "256\\n257\\n", "Variant(", "@"})
        EXPECT_FALSE(settingsTextUnreadable("[Settings]\nValue=" + plain + "\n")) << plain.constData();
}

// The ULE PIDs have a key of their own beside "Settings/ActivePIDs": a file
// written now gives an older version the MPE PIDs as before, and an older
// file loads no ULE PID.
TEST_F(SettingsStoreTest, UlePidsAreKeptBesideTheActivePids)
{
    writeFile(SettingsStore::settingsPath(), "[Settings]\nActivePIDs=1001\\n\n");
    Form f;
    std::vector<std::string> loaded;
    SettingsHooks hooks;
    hooks.loadPidList = [&](const QString& text) { loaded.push_back("mpe " + text.toStdString()); };
    hooks.loadUlePidList = [&](const QString& text) { loaded.push_back("ule " + text.toStdString()); };
    hooks.storedPidList = [] { return QStringLiteral("1001\n"); };
    hooks.storedUlePidList = [] { return QStringLiteral("512\n600\n"); };
    SettingsStore store(&f.widget, f.ui,
                        SettingsFields{f.frequency, f.symbolRate, f.polarisationOn, f.modulationItem, f.fecItem,
                                       f.lnbPowerOn, f.streamId, f.plsMode, f.plsCode, f.basebandFrames},
                        hooks);
    store.loadSettings();
    EXPECT_EQ(loaded, (std::vector<std::string>{"mpe 1001\n", "ule "}));

    f.ui.listSelectedPids->addItems({"1001", "512 (ULE)", "600 (ULE)"});
    EXPECT_TRUE(store.saveSettings());
    const QSettings saved(SettingsStore::settingsPath(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Settings/ActivePIDs").toString(), "1001\n") << "no ULE PID among the MPE ones";
    EXPECT_EQ(saved.value("Settings/ULEPIDs").toString(), "512\n600\n");
    loaded.clear();
    store.loadSettings();
    EXPECT_EQ(loaded, (std::vector<std::string>{"mpe 1001\n", "ule 512\n600\n"}));
}
