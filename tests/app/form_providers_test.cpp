// The provider operations of the main window: what New, Update and Remove
// store and ask, and what selecting a provider puts into the pages. Every
// form works in a directory of its own, where the providers file lives.
#include "app/kestipdataform.h"
#include "drivers/simcard/sim_register.h"
#include "platform/win32.h"
#include "presets/formproviders.h"
#include "presets/provider_table.h"
#include "tests/offscreen_app.h"
#include "tuner/device_catalogue.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>

namespace {

// The Cedar's form saves its settings when it goes: not into the user's.
class ConfigHome : public ::testing::Environment {
public:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8()); }

private:
    QTemporaryDir dir_;
};
const auto* const configHome = ::testing::AddGlobalTestEnvironment(new ConfigHome);
const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new OffscreenApplication("app_provider_tests"));

// Columns in file order: name, frequency, polarisation, symbol rate,
// modulation, FEC, LNB type (1 is C-BAND, presets 5150 / 0 / 0), LOF1, LOF2,
// LOF_SW, DiSEqC 1.0, switch input, repeat count, gap, DiSEqC 1.2, position,
// motor repeat count, raw, RAW0..RAW5.
ProviderRecord beta()
{
    return {"Beta", 11778, 1, 22000, 2, 3, 1, 5100, 5200, 5300, true, 2, 3, 120, false, "17", 4, true,
            {"E0", "E1", "E2", "E3", "E4", "E5"}};
}

// What a box or the name dialog showed, and how it was answered.
struct Seen {
    int boxes = 0;
    QString caption, text, objectName;
    QMessageBox::StandardButtons buttons;
    QString yesText, noText;
    bool yesIsDefault = false;
    QWidget* parent = nullptr;
    bool modal = false;
};

// Runs `call`; every modal window it opens is looked at and answered by `answer`.
Seen whileModal(const std::function<void()>& call, const std::function<void(QWidget*)>& answer)
{
    Seen seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        ++seen.boxes;
        seen.caption = modal->windowTitle();
        seen.objectName = modal->objectName();
        seen.parent = modal->parentWidget();
        seen.modal = modal->isModal();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.text = box->text();
            seen.buttons = box->standardButtons();
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            QAbstractButton* no = box->button(QMessageBox::No);
            seen.yesText = yes ? yes->text() : QString();
            seen.noText = no ? no->text() : QString();
            seen.yesIsDefault = yes != nullptr && box->defaultButton() == yes;
        }
        answer(modal);
    });
    timer.start(10);
    call();
    return seen;
}

void pressEscape(QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }

std::function<void(QWidget*)> nameDialog(const QString& name, bool ok)
{
    return [name, ok](QWidget* w) {
        auto* dialog = qobject_cast<FormProviders*>(w);
        ASSERT_NE(dialog, nullptr);
        dialog->lineEditProvName->setText(name);
        (ok ? dialog->buttonOK : dialog->buttonCancel)->click();
    };
}

QStringList comboItems(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

class ProviderOperations : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        ::unsetenv("KEST_MESSAGEBOX"); // boxes are shown, and answered here
    }
    void TearDown() override { QDir::setCurrent(previous); }

    static void writeProviders(const QList<ProviderRecord>& rows)
    {
        ProviderTable table;
        for (const ProviderRecord& r : rows)
            table.append(r);
        ASSERT_TRUE(saveProviderFile(table));
    }
    static QByteArray fileBytes()
    {
        QFile f(QString::fromLatin1(kProvidersFileName));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    static ProviderTable fileTable()
    {
        ProviderTable table;
        loadProviderFile(table);
        return table;
    }
    static void select(KestIpDataForm& form, int item)
    {
        form.comboBoxProviders->setCurrentIndex(item);
        emit form.comboBoxProviders->activated(item);
    }
    // Tunes to these values with the Set button, as the user does.
    static void apply(KestIpDataForm& form, int frequency, int symbolRate, int polarisation)
    {
        form.lnbTypeComboBox->setCurrentIndex(0);
        form.lnbTypeComboBox_activated(0);
        form.lineEditFreq->setText(QString::number(frequency));
        form.lineEditSmbRate->setText(QString::number(symbolRate));
        form.comboBoxPolarisation->setCurrentIndex(polarisation);
        form.buttonSet->click();
    }

    QTemporaryDir dir;
    QString previous;
};

TEST_F(ProviderOperations, NothingSelectedAsksAndStoresNothing)
{
    {
        KestIpDataForm form;
        EXPECT_FALSE(form.buttonEdit->isEnabled());
        EXPECT_FALSE(form.buttonRemove->isEnabled());
        const Seen seen = whileModal([&] {
            form.buttonEdit_clicked();
            form.buttonRemove_clicked();
        }, pressEscape);
        EXPECT_EQ(seen.boxes, 0);
        EXPECT_FALSE(QFile::exists(kProvidersFileName));
    }
    writeProviders({beta()});
    const QByteArray before = fileBytes();
    KestIpDataForm form;
    ASSERT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Beta"}));
    select(form, 1);
    select(form, 0);
    EXPECT_FALSE(form.buttonEdit->isEnabled());
    EXPECT_FALSE(form.buttonRemove->isEnabled());
    const Seen seen = whileModal([&] {
        form.buttonEdit_clicked();
        form.buttonRemove_clicked();
    }, pressEscape);
    EXPECT_EQ(seen.boxes, 0);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(form.comboBoxProviders->count(), 2);
}

// A name may hold what the file's line form cannot (line breaks, double
// quotes); after a restart the provider is there under the same name. The
// temporary file of a save that was cut off is gone at the next start.
TEST_F(ProviderOperations, NamesComeBackAfterARestartAndInterruptedSavesLeaveNothing)
{
    const QString name = "Sky \"Digital\"\nsecond line";
    {
        KestIpDataForm form;
        whileModal([&] { form.buttonNew->click(); }, nameDialog(name, true));
        whileModal([&] { form.buttonNew->click(); }, nameDialog("Plain", true));
    }
    QFile leftOver(".kestipdata.ini.kest-new-Ab3dE9");
    ASSERT_TRUE(leftOver.open(QIODevice::WriteOnly));
    leftOver.close();
    KestIpDataForm form;
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Plain", name}));
    EXPECT_FALSE(QFile::exists(".kestipdata.ini.kest-new-Ab3dE9"));
}

TEST_F(ProviderOperations, AProviderCarriesItsStreamAcrossARestart)
{
    {
        KestIpDataForm form;
        form.spinBoxStream->setValue(7);
        form.comboBoxPLSMode->setCurrentIndex(0);
        form.lineEditPLSCode->setText("1024");
        apply(form, 11778, 27500, 0);
        whileModal([&] { form.buttonNew->click(); }, nameDialog("Multi", true));
        EXPECT_TRUE(fileBytes().endsWith("RAW5\t\"\"\nStreamID\t7\nPLSMode\t0\nPLSCode\t1024\n")) << fileBytes().constData();
    }
    KestIpDataForm form;
    ASSERT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Multi"}));
    select(form, 1);
    EXPECT_EQ(form.spinBoxStream->value(), 7);
    EXPECT_EQ(form.comboBoxPLSMode->currentIndex(), 0);
    EXPECT_EQ(form.lineEditPLSCode->text(), "1024");
}

TEST_F(ProviderOperations, CancelAndNoLeaveTableComboAndFile)
{
    writeProviders({beta()});
    const QByteArray before = fileBytes();
    KestIpDataForm form;
    select(form, 1);
    apply(form, 12000, 27500, 0); // something Update would store

    Seen seen = whileModal([&] { form.buttonNew->click(); }, nameDialog("Gamma", false));
    EXPECT_EQ(seen.boxes, 1);
    EXPECT_EQ(seen.objectName, "New");
    EXPECT_EQ(seen.caption, "New");
    EXPECT_EQ(seen.parent, &form);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(form.findChildren<FormProviders*>().isEmpty()) << "the dialog lives for one New";

    seen = whileModal([&] { form.buttonEdit->click(); }, pressEscape); // Escape answers No
    EXPECT_EQ(seen.boxes, 1);
    EXPECT_EQ(seen.caption, "Update Provider?");
    EXPECT_EQ(seen.text, "Update Provider [Beta]");
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.yesText, "&Yes");
    EXPECT_EQ(seen.noText, "&No");
    EXPECT_TRUE(seen.yesIsDefault);

    seen = whileModal([&] { form.buttonRemove->click(); },
                      [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); });
    EXPECT_EQ(seen.caption, "Delete Provider?");
    EXPECT_EQ(seen.text, "Delete Provider [Beta]");
    EXPECT_TRUE(seen.yesIsDefault);

    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Beta"}));
    EXPECT_EQ(form.comboBoxProviders->currentIndex(), 1);
    EXPECT_TRUE(form.buttonRemove->isEnabled());
}

// The tuning comes from the last Set, not from the fields; the rest as shown.
TEST_F(ProviderOperations, NewAndUpdateStoreTheAppliedTuningAndThePagesAsShown)
{
    KestIpDataForm form;
    apply(form, 11778, 22000, 1);
    form.lineEditFreq->setText("12111");
    form.lineEditSmbRate->setText("30000");
    form.comboBoxPolarisation->setCurrentIndex(0);
    form.lnbTypeComboBox->setCurrentIndex(3);
    form.lnbTypeComboBox_activated(3);
    form.lineEditLOF1->setText("9751");
    form.lineEditLOF2->setText("");    // not a number: 0
    form.lineEditSwitch->setText("11701");
    form.groupBoxDiSEqC1_0->setChecked(true);
    form.comboBoxDiSEqC10->setCurrentIndex(3);
    form.spinBoxTXCount->setValue(2);
    form.spinBoxGap->setValue(75);
    form.groupBoxDiSEqC1_2->setChecked(false);
    form.lineEditGoto->setText("5");
    form.spinBoxTXCountMotor->setValue(1);
    form.groupBoxRAW->setChecked(true);
    form.RAW0->setText("E0");
    form.RAW5->setText("FF");

    whileModal([&] { form.buttonNew->click(); }, nameDialog("Alpha 19E", true));
    const ProviderRecord expected{"Alpha 19E", 11778, 1, 22000, 0, 0, 3, 9751, 0, 11701, true, 3, 2, 75,
                                  false, "5", 1, true, {"E0", "", "", "", "", "FF"}};
    ProviderTable stored = fileTable();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored.record(0) == expected);
    EXPECT_TRUE(fileBytes().startsWith("[Alpha 19E]\nFreqency\t11778\nPolarisation\t1\nSymbol-Rate\t22000\n"));
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Alpha 19E"}));
    EXPECT_EQ(form.comboBoxProviders->currentIndex(), 0) << "New selects nothing";

    // An empty name is a provider too, appended after the others.
    whileModal([&] { form.buttonNew->click(); }, nameDialog("", true));
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Alpha 19E", ""}));
    EXPECT_TRUE(fileBytes().contains("\n\n[]\nFreqency\t11778\n"));

    // Update overwrites everything but the name, after a Yes.
    select(form, 1);
    apply(form, 12565, 27500, 0);
    form.spinBoxGap->setValue(200);
    qputenv("KEST_MESSAGEBOX", "stderr"); // answered with Yes, the default
    form.buttonEdit->click();
    ::unsetenv("KEST_MESSAGEBOX");
    stored = fileTable();
    ASSERT_EQ(stored.size(), 2);
    const ProviderRecord updated = stored.record(stored.names.indexOf("Alpha 19E"));
    EXPECT_EQ(updated.frequency, 12565);
    EXPECT_EQ(updated.symbolRate, 27500);
    EXPECT_EQ(updated.polarisation, 0);
    EXPECT_EQ(updated.lnbType, 0);
    EXPECT_EQ(updated.lof1, 9750);
    EXPECT_EQ(updated.gapTime, 200);
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Alpha 19E", ""}));
}

TEST_F(ProviderOperations, RemoveLeavesNothingSelectedAndThePagesAsTheyAre)
{
    ProviderRecord alpha = beta();
    alpha.name = "Alpha";
    alpha.frequency = 12000;
    writeProviders({alpha, beta()});
    KestIpDataForm form;
    select(form, 2);
    ASSERT_EQ(form.lineEditFreq->text(), "11778");
    QSignalSpy activated(form.comboBoxProviders, QOverload<int>::of(&QComboBox::activated));
    qputenv("KEST_MESSAGEBOX", "stderr");
    form.buttonRemove->click();
    ::unsetenv("KEST_MESSAGEBOX");
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Alpha"}));
    EXPECT_EQ(form.comboBoxProviders->currentIndex(), 0);
    EXPECT_EQ(activated.count(), 0);
    EXPECT_FALSE(form.buttonEdit->isEnabled());
    EXPECT_FALSE(form.buttonRemove->isEnabled());
    EXPECT_EQ(form.lineEditFreq->text(), "11778");
    const ProviderTable stored = fileTable();
    EXPECT_EQ(stored.names, QStringList{"Alpha"});
    EXPECT_EQ(stored.frequency, QList<int>{12000});
}

TEST_F(ProviderOperations, SelectingFillsThePagesWithoutModulationAndFecOffTheCedar)
{
    writeProviders({beta()});
    KestIpDataForm form; // no card: not a Cedar
    form.comboBoxModulation->setCurrentIndex(1);
    form.comboBoxFEC->setCurrentIndex(5);
    form.lineEditFreq->setText("10000");
    select(form, 1);
    EXPECT_TRUE(form.buttonEdit->isEnabled());
    EXPECT_TRUE(form.buttonRemove->isEnabled());
    EXPECT_EQ(form.lineEditFreq->text(), "11778");
    EXPECT_EQ(form.comboBoxPolarisation->currentIndex(), 1);
    EXPECT_EQ(form.lineEditSmbRate->text(), "22000");
    EXPECT_EQ(form.comboBoxModulation->currentIndex(), 0);
    EXPECT_EQ(form.comboBoxFEC->currentIndex(), 0);
    EXPECT_EQ(form.lnbTypeComboBox->currentIndex(), 1);
    // The C-BAND type's presets ran (fields locked), then the stored values won.
    EXPECT_FALSE(form.lineEditLOF1->isEnabled());
    EXPECT_EQ(form.lineEditLOF1->text(), "5100");
    EXPECT_EQ(form.lineEditLOF2->text(), "5200");
    EXPECT_EQ(form.lineEditSwitch->text(), "5300");
    EXPECT_TRUE(form.groupBoxDiSEqC1_0->isChecked());
    EXPECT_EQ(form.comboBoxDiSEqC10->currentIndex(), 2);
    EXPECT_EQ(form.spinBoxTXCount->value(), 3);
    EXPECT_EQ(form.spinBoxGap->value(), 120);
    EXPECT_FALSE(form.groupBoxDiSEqC1_2->isChecked());
    EXPECT_EQ(form.lineEditGoto->text(), "17");
    EXPECT_EQ(form.spinBoxTXCountMotor->value(), 4);
    EXPECT_TRUE(form.groupBoxRAW->isChecked());
    EXPECT_EQ(form.RAW0->text(), "E0");
    EXPECT_EQ(form.RAW5->text(), "E5");

    select(form, 0);
    EXPECT_FALSE(form.buttonEdit->isEnabled());
    EXPECT_FALSE(form.buttonRemove->isEnabled());
    EXPECT_EQ(form.lineEditFreq->text(), "11778") << "item 0 loads nothing";
}

// A file edited by hand may hold indexes no list has: the lists keep their
// item, so that nothing later reads "no item" as a value.
TEST_F(ProviderOperations, IndexesOutsideTheListsKeepTheCurrentItem)
{
    ProviderRecord odd = beta();
    odd.lnbType = 9;
    odd.multiOption = -1;
    odd.lof1 = 9000;
    writeProviders({odd});
    KestIpDataForm form;
    form.lnbTypeComboBox->setCurrentIndex(3);
    form.lnbTypeComboBox_activated(3);
    form.comboBoxDiSEqC10->setCurrentIndex(1);
    select(form, 1);
    EXPECT_EQ(form.lnbTypeComboBox->currentIndex(), 3);
    EXPECT_TRUE(form.lineEditLOF1->isEnabled());
    EXPECT_EQ(form.lineEditLOF1->text(), "9000");
    EXPECT_EQ(form.comboBoxDiSEqC10->currentIndex(), 1);
}

// Not writing the file must not pass unnoticed: the change would be gone at
// the next start.
TEST_F(ProviderOperations, UnwritableFileWarnsAndKeepsTheChangeInMemory)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(kProvidersFileName));
    KestIpDataForm form;
    Seen warning;
    whileModal([&] { form.buttonNew->click(); }, [&](QWidget* w) {
        if (qobject_cast<FormProviders*>(w)) {
            nameDialog("Delta", true)(w);
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        warning.caption = box->windowTitle();
        warning.text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(warning.caption, "Error");
    EXPECT_EQ(warning.text, "The providers could not be saved to kestipdata.ini.");
    EXPECT_EQ(comboItems(form.comboBoxProviders), (QStringList{"", "Delta"}));
}

// On a Cedar, the one model with a choice, the stored modulation and FEC are shown.
class CedarProviders : public ProviderOperations {
protected:
    void SetUp() override
    {
        ProviderOperations::SetUp();
        qputenv("KEST_MESSAGEBOX", "stderr"); // the missing adapter driver's warning
        previousSleep = platform::setSleepHandler([](DWORD) {});
        simcard::registerSimCard(tuner::kModelCedar, simcard::SimConfig{});
        KestIpDataForm::enableReceiver(true);
    }
    void TearDown() override
    {
        KestIpDataForm::enableReceiver(false);
        simcard::unregisterSimCards();
        platform::setSleepHandler(previousSleep);
        ::unsetenv("KEST_MESSAGEBOX");
        ProviderOperations::TearDown();
    }
    platform::SleepHandler previousSleep;
};

TEST_F(CedarProviders, SelectingShowsTheStoredModulationAndFec)
{
    writeProviders({beta()});
    KestIpDataForm form;
    ASSERT_TRUE(form.windowTitle().contains("Cedar")) << qPrintable(form.windowTitle());
    ASSERT_TRUE(form.comboBoxModulation->isEnabled());
    select(form, 1);
    EXPECT_EQ(form.comboBoxModulation->currentIndex(), 2);
    EXPECT_EQ(form.comboBoxFEC->currentIndex(), 3);
}

} // namespace
