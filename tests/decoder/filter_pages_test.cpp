// The PID and address filter pages on the main window's widgets: validation,
// slots, the seen list, the stored list, the address modes.
#include "decoder/filter_pages.h"
#include "test_support.h"
#include "tests/form_ui.h"
#include "tests/offscreen_app.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

using namespace dt;

namespace {

// Ended before the program exits: the shown dialog leaves a desktop widget
// behind, which must go while Qt's thread data still exists.
const auto* const qtEnvironment = [] {
    qputenv("KEST_MESSAGEBOX", "stderr");
    return ::testing::AddGlobalTestEnvironment(new OffscreenApplication("filter_pages_tests"));
}();

// The PID and address pages, the PID page in front.
struct Form : FormUi {
    Form() : FormUi(*qApp)
    {
        pages = new FilterPages(&widget, ui);
        pages->installDecimalValidator();
        QObject::connect(addButton, &QPushButton::clicked, pages, &FilterPages::addPid);
        QObject::connect(removeButton, &QPushButton::clicked, pages, &FilterPages::removePid);
        ui.tabWidgetMain->setCurrentWidget(ui.pagePids);
        widget.show();
    }
    QStringList selectedTexts() const
    {
        QStringList t;
        for (int i = 0; i < selected->count(); ++i)
            t << selected->item(i)->text();
        return t;
    }
    // Adds a PID as typed, returning what the warning box said (empty: none).
    std::string typeAndAdd(const QString& text)
    {
        pidValue->setText(text);
        testing::internal::CaptureStderr();
        pages->addPid();
        return testing::internal::GetCapturedStderr();
    }

    QLineEdit* pidValue = ui.lineEditPidValue;
    QCheckBox* hex = ui.checkBoxHex;
    QPushButton* addButton = ui.buttonAddPid;
    QPushButton* removeButton = ui.buttonRemovePid;
    QListWidget* selected = ui.listSelectedPids;
    QTreeWidget* active = ui.listActivePids;
    std::vector<QRadioButton*> radio{ui.radioButtonDefaultAddr, ui.radioButtonMACAddr, ui.radioButtonIPAddr};
    std::vector<QLineEdit*> mac{ui.lineEditMAC0, ui.lineEditMAC1, ui.lineEditMAC2,
                                ui.lineEditMAC3, ui.lineEditMAC4, ui.lineEditMAC5};
    std::vector<QLineEdit*> ip{ui.lineEditIP0, ui.lineEditIP1, ui.lineEditIP2, ui.lineEditIP3};
    FilterPages* pages = nullptr;
};

class FilterPagesTest : public DecoderTest {};

const char kInvalid[] = "Error: Invalid PID input! Valid data is 21~8190 (Hex:0x15~0x1FFE)\n";

} // namespace

TEST_F(FilterPagesTest, PidRangeInDecimalAndHexadecimal)
{
    Form f;
    EXPECT_EQ(f.typeAndAdd("20"), kInvalid);
    EXPECT_EQ(f.typeAndAdd("8191"), kInvalid);
    EXPECT_EQ(f.typeAndAdd("21"), "");
    EXPECT_EQ(f.typeAndAdd("8190"), "");
    EXPECT_EQ(f.typeAndAdd("8190"), "") << "already selected: ignored";
    EXPECT_EQ(f.selectedTexts(), (QStringList{"21", "8190"}));
    EXPECT_NE(g_decoder.pidSlot[21], 0);

    f.hex->setChecked(true);
    f.pages->hexChanged(Qt::Checked);
    EXPECT_EQ(f.typeAndAdd("1FFF"), kInvalid);
    EXPECT_EQ(f.typeAndAdd("15"), "") << "0x15 is 21, already selected";
    EXPECT_EQ(f.typeAndAdd("1ffe"), "") << "0x1FFE is 8190, already selected";
    EXPECT_EQ(f.typeAndAdd("100"), "");
    EXPECT_EQ(f.selectedTexts(), (QStringList{"21", "8190", "256"}));
    f.pidValue->clear();
    f.pages->addPid();
    EXPECT_EQ(f.selected->count(), 3) << "empty text does nothing";
}

TEST_F(FilterPagesTest, HexSwitchConvertsTheTextAndTheValidator)
{
    Form f;
    f.pidValue->setText("4096");
    f.pages->hexChanged(Qt::Checked);
    EXPECT_EQ(f.pidValue->text(), "1000");
    int pos = 0;
    QString text = "ABCD";
    EXPECT_EQ(f.pidValue->validator()->validate(text, pos), QValidator::Acceptable);
    f.pages->hexChanged(Qt::Unchecked);
    EXPECT_EQ(f.pidValue->text(), "4096");
    text = "ABCD";
    EXPECT_NE(f.pidValue->validator()->validate(text, pos), QValidator::Acceptable);
    f.pidValue->setText("");
    f.pages->hexChanged(Qt::Checked);
    EXPECT_EQ(f.pidValue->text(), "0");
}

TEST_F(FilterPagesTest, SixteenthPidIsRefusedAndListsNothing)
{
    Form f;
    for (int i = 0; i < 15; ++i)
        ASSERT_EQ(f.typeAndAdd(QString::number(100 + i)), "");
    EXPECT_EQ(f.typeAndAdd("200"), "Error: At most 15 PIDs can be decoded at once.\n");
    EXPECT_EQ(f.selected->count(), 15);
    EXPECT_EQ(g_decoder.pidSlot[200], 0);
}

TEST_F(FilterPagesTest, RemoveByMouseClickKeepsTheListsFocus)
{
    Form f;
    f.typeAndAdd("300");
    f.typeAndAdd("301");
    auto* row = new QTreeWidgetItem(f.active);
    row->setText(0, "301");
    row->setText(1, "Active");
    QApplication::setActiveWindow(&f.widget);
    f.selected->setFocus();
    f.selected->setCurrentRow(1);
    ASSERT_TRUE(f.selected->hasFocus());
    QTest::mouseClick(f.removeButton, Qt::LeftButton);
    EXPECT_EQ(f.selectedTexts(), QStringList{"300"});
    EXPECT_EQ(g_decoder.pidSlot[301], 0);
    EXPECT_EQ(row->text(1), "");

    // Without the focus on the list, nothing happens.
    f.pidValue->setFocus();
    f.selected->setCurrentRow(0);
    f.pages->removePid();
    EXPECT_EQ(f.selected->count(), 1);
}

TEST_F(FilterPagesTest, StoredListSelectsEachPidOnceAndSkipsOutOfRange)
{
    Form f;
    f.pages->loadPidList("1234\n4321\n9000\n1234\n");
    EXPECT_EQ(f.selectedTexts(), (QStringList{"1234", "4321"}));
    int used = 0;
    for (int i = 1; i < kSlotCount; ++i)
        used += g_decoder.sectionSlots[i].pid >= 0;
    EXPECT_EQ(used, 2) << "no slot leaked to the duplicate line";
    EXPECT_EQ(f.pages->storedPidList(), "1234\n4321\n");
}

TEST_F(FilterPagesTest, SeenListFromPid20UpOncePerClear)
{
    Form f;
    f.typeAndAdd("1001");
    g_decoder.pidMpeSections[19].store(5);
    g_decoder.pidMpeSections[20].store(1);
    g_decoder.pidMpeSections[1001].store(3);
    f.pages->refreshActivePids();
    ASSERT_EQ(f.active->topLevelItemCount(), 2);
    EXPECT_EQ(f.active->topLevelItem(0)->text(0), "20");
    EXPECT_EQ(f.active->topLevelItem(1)->text(0), "1001");
    EXPECT_EQ(f.active->topLevelItem(1)->text(1), "Active");
    g_decoder.pidMpeSections[1001].store(9);
    f.pages->refreshActivePids();
    EXPECT_EQ(f.active->topLevelItemCount(), 2) << "a PID gets its row once";

    f.pages->clearPidCounters();
    EXPECT_EQ(f.active->topLevelItemCount(), 0);
    EXPECT_EQ(value(g_decoder.pidMpeSections[1001]), 0u);
    g_decoder.pidMpeSections[1001].store(1);
    f.pages->refreshActivePids();
    EXPECT_EQ(f.active->topLevelItemCount(), 1) << "rows come back after a clear";
}

TEST_F(FilterPagesTest, AddressModesSetTheFilterAndRestartTheCounters)
{
    Form f;
    const std::array<uint8_t, 6> own{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    f.radio[2]->setChecked(true);
    for (int i = 0; i < 4; ++i)
        f.ip[i]->setText(QString::number(std::vector<int>{192, 168, 1, 300}[i]));
    g_decoder.rxCrcErrors.store(4);
    g_decoder.pidPackets[1001].store(7);
    f.pages->applyAddressFilter(own);
    EXPECT_EQ(Bytes(g_decoder.macFilter, g_decoder.macFilter + 6), (Bytes{0, 0, 0xC0, 0xA8, 0x01, 0x2C}));
    EXPECT_EQ(capture().stationAddress, (Mac{0, 0, 0xC0, 0xA8, 0x01, 0x2C})) << "the adapter is told";
    EXPECT_EQ(value(g_decoder.rxCrcErrors), 0u);
    EXPECT_EQ(value(g_decoder.pidPackets[1001]), 0u);

    f.radio[1]->setChecked(true);
    f.mac[0]->setText("0a");
    f.mac[5]->setText("fF"); // the field holds two digits
    f.pages->applyAddressFilter(own);
    EXPECT_EQ(g_decoder.macFilter[0], 0x0A);
    EXPECT_EQ(g_decoder.macFilter[5], 0xFF);

    f.radio[0]->setChecked(true);
    f.pages->applyAddressFilter(own);
    EXPECT_EQ(Bytes(g_decoder.macFilter, g_decoder.macFilter + 6), Bytes(own.begin(), own.end()));

    f.pages->modeSelected(1);
    EXPECT_TRUE(f.mac[3]->isEnabled());
    EXPECT_FALSE(f.ip[0]->isEnabled());
    f.pages->modeSelected(0);
    EXPECT_FALSE(f.mac[3]->isEnabled());
}

// A PID added with "ULE" checked gets a ULE slot, is listed as such and is
// stored apart from the MPE PIDs; removing it frees its slot.
TEST_F(FilterPagesTest, UlePidIsDecodedAsUleListedAndStoredApart)
{
    Form f;
    f.ui.checkBoxUle->setChecked(true);
    EXPECT_EQ(f.typeAndAdd("512"), "");
    f.ui.checkBoxUle->setChecked(false);
    EXPECT_EQ(f.typeAndAdd("1001"), "");
    f.pages->loadPidList("600\n", SlotUle);
    EXPECT_EQ(f.selectedTexts(), (QStringList{"512 (ULE)", "1001", "600 (ULE)"}));
    for (const auto& [pid, kind] : {std::pair{512, SlotUle}, std::pair{1001, SlotMpe}, std::pair{600, SlotUle}}) {
        const int slot = g_decoder.pidSlot[pid];
        ASSERT_NE(slot, 0) << pid;
        EXPECT_EQ(g_decoder.sectionSlots[slot].kind, kind) << pid;
    }
    EXPECT_EQ(f.pages->storedPidList(SlotMpe), "1001\n");
    EXPECT_EQ(f.pages->storedPidList(SlotUle), "512\n600\n");

    QApplication::setActiveWindow(&f.widget);
    f.selected->setFocus();
    f.selected->setCurrentRow(0);
    ASSERT_TRUE(f.selected->hasFocus());
    f.pages->removePid();
    EXPECT_EQ(g_decoder.pidSlot[512], 0);
    EXPECT_EQ(f.pages->storedPidList(SlotUle), "600\n");
}
