// The QApplication is set up by ledmeter_test.cpp in the same test program.
// The decoder record has a member named `slots`: read before Qt's macro exists.
#include "decoder/decoder.h"

#include "monitor/mainratesource.h"
#include "monitor/pidlistitem.h"
#include "monitor/testform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_div.h>

#include <cmath>
#include <cstring>
#include <vector>

// Readable failure messages for row lists.
void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '"' << list.join("\", \"").toStdString() << '"';
}

namespace {

class FakeMainWindow : public MainRateSource {
public:
    const RateHistory& adapterRateHistory() const override { return history; }
    uint64_t adapterLostFrames() const override { return lost; }
    RateHistory history;
    uint64_t lost = 0;
};

// Every counter of the decoder record, to see that the window leaves them alone.
std::vector<quint64> decoderCounters()
{
    const DecoderState& d = decoderState();
    std::vector<quint64> values;
    for (const Counter* table : {d.pidPackets, d.pidSelectedPackets, d.pidMpeSections})
        for (int pid = 0; pid < kPidCount; ++pid)
            values.push_back(counterValue(table[pid]));
    for (const Counter* c : {&d.rxErrors, &d.rxContinuityErrors, &d.rxMemErrors, &d.rxScrambledErrors,
                             &d.rxPointerErrors, &d.rxLengthErrors, &d.rxCrcErrors, &d.rxDropped,
                             &d.rxBbFrameErrors, &d.rxGseErrors, &d.rxUleErrors})
        values.push_back(counterValue(*c));
    values.insert(values.end(), d.pidSlot, d.pidSlot + kPidCount);
    return values;
}

// Minimum, peak and average labels against "MIN MAX AVERAGE".
void expectRateLabels(const QLabel* minimum, const QLabel* peak, const QLabel* average, const char* expected)
{
    EXPECT_EQ(QStringList({minimum->text(), peak->text(), average->text()}).join(' '), expected);
}

void expectMarkerAt(const QwtPlotMarker* marker, double y)
{
    EXPECT_TRUE(marker->isVisible());
    EXPECT_EQ(marker->yValue(), y);
}

class TestFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(allocatePidTables());
        resetErrorCounters();
        std::memset(g_decoder.pidSlot, 0, sizeof g_decoder.pidSlot);
    }
    void TearDown() override
    {
        std::memset(g_decoder.pidSlot, 0, sizeof g_decoder.pidSlot);
        freePidTables();
    }

    static void setPackets(int pid, quint64 count) { g_decoder.pidPackets[pid].store(count); }
    static void setSelected(int pid, quint64 count) { g_decoder.pidSelectedPackets[pid].store(count); }

    // Rows as "PID|Count|Percent|Status" in the list's current order.
    static QStringList rows(const TestForm& form)
    {
        QStringList out;
        for (int i = 0; i < form.listActivePids->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = form.listActivePids->topLevelItem(i);
            out << QStringList{item->text(0), item->text(1), item->text(2), item->text(3)}.join('|');
        }
        return out;
    }
    static PidListItem* row(const TestForm& form, int index)
    {
        return static_cast<PidListItem*>(form.listActivePids->topLevelItem(index));
    }

    FakeMainWindow main;
};

TEST_F(TestFormTest, WidgetsCaptionsAndInitialState)
{
    TestForm form(nullptr, main);
    EXPECT_EQ(form.windowTitle(), "Statistic");
    EXPECT_GE(form.width(), 675);
    EXPECT_GE(form.height(), 492);

    const struct {
        QGroupBox* box;
        const char* name;
        const char* title;
    } groups[] = {{form.groupBoxTS, "groupBoxTS", "Transport stream"},
                  {form.groupActvePIDsRate, "groupActvePIDsRate", "Active PIDs"},
                  {form.groupDSMCCdecoder, "groupDSMCCdecoder", "DSMCC decoder status"},
                  {form.groupAcivePidsRate, "groupAcivePidsRate", "Active PIDs rate Kbit/s:"},
                  {form.groupMpeFilterRate, "groupMpeFilterRate", "MPE filter rate Kbit/s:"}};
    for (const auto& g : groups) {
        EXPECT_EQ(g.box->objectName(), g.name);
        EXPECT_EQ(g.box->title(), g.title);
    }
    EXPECT_EQ(form.listActivePids->parentWidget(), form.groupBoxTS);
    EXPECT_EQ(form.statusTs->parentWidget(), form.groupActvePIDsRate);
    EXPECT_EQ(form.buttonExit->text(), "Exit");

    const QTreeWidgetItem* header = form.listActivePids->headerItem();
    ASSERT_EQ(form.listActivePids->columnCount(), 4);
    EXPECT_EQ(header->text(0), "PID");
    EXPECT_EQ(header->text(1), "Count");
    EXPECT_EQ(header->text(2), "Percent");
    EXPECT_EQ(header->text(3), "Status");
    EXPECT_EQ(form.listActivePids->sortColumn(), 0);
    EXPECT_EQ(form.listActivePids->header()->sortIndicatorOrder(), Qt::AscendingOrder);

    const char* const errorRows[][3] = {
        {"textContiniity", "Continuity errors:", "labelRx_continuity_errors"},
        {"textSrcambled", "Scrambled errors:", "labelRx_scrambled_errors"},
        {"textPointer", "Pointer field errors:", "labelRx_pointer_errors"},
        {"textMem", "Mem errors:", "labelRx_mem_errors"},
        {"textLength", "Length errors:", "labelRx_length_errors"},
        {"textCRC", "CRC errors:", "labeltRx_crc_errors"},
        {"textLLC", "LLC/SNAP errors:", "labelRx_dropped"},
        {"textBBFrame", "BBFrame errors:", "labelRx_bbframe_errors"},
        {"textGSE", "GSE errors:", "labelRx_gse_errors"},
        {"textULE", "ULE errors:", "labelRx_ule_errors"},
        {"textTotal", "TOTAL errors:", "labelRx_errors"}};
    for (const auto& r : errorRows) {
        auto* caption = form.groupDSMCCdecoder->findChild<QLabel*>(r[0]);
        auto* value = form.groupDSMCCdecoder->findChild<QLabel*>(r[2]);
        ASSERT_TRUE(caption && value) << r[0];
        EXPECT_EQ(caption->text(), r[1]);
        EXPECT_EQ(value->text(), "0");
    }
    for (QLabel* value : {form.labelPIDsMin, form.labelPIDsMax, form.labelPIDsAverage, form.labelMpeMin,
                          form.labelMpeMax, form.labelMpeAverage})
        EXPECT_EQ(value->text(), "0") << value->objectName().toStdString();
    EXPECT_EQ(form.labelPIDsMin->parentWidget(), form.groupAcivePidsRate);
    EXPECT_EQ(form.labelMpeAverage->parentWidget(), form.groupMpeFilterRate);
    EXPECT_FALSE(form.pixmapPIDsLegend->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_FALSE(form.pixmapMpeLegend->pixmap(Qt::ReturnByValue).isNull());

    // No packets yet: nothing listed, both markers hidden.
    EXPECT_EQ(form.listActivePids->topLevelItemCount(), 0);
    EXPECT_FALSE(form.plotItems().pidAverageMarker->isVisible());
    EXPECT_FALSE(form.plotItems().mpeAverageMarker->isVisible());
    EXPECT_EQ(form.statusTs->axisTitle(QwtPlot::yLeft).text(), "Active PIDs rate");
}

TEST_F(TestFormTest, PidListItemSortsNumericallyExceptStatus)
{
    QTreeWidget view;
    view.setColumnCount(4);
    const char* const cells[][4] = {
        {"100", "9", "100.00%", "Active"}, {"9", "100", "9.50%", ""}, {"10", "10", "10.00%", "Active"}};
    for (const auto& c : cells) {
        auto* item = new PidListItem(&view);
        for (int column = 0; column < 4; ++column)
            item->setText(column, c[column]);
    }
    auto firstColumn = [&](int column) {
        QStringList out;
        for (int i = 0; i < view.topLevelItemCount(); ++i)
            out << view.topLevelItem(i)->text(column);
        return out.join(' ');
    };
    view.sortByColumn(0, Qt::AscendingOrder);
    EXPECT_EQ(firstColumn(0), "9 10 100");
    view.sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(firstColumn(1), "9 10 100");
    view.sortByColumn(2, Qt::DescendingOrder);
    EXPECT_EQ(firstColumn(2), "100.00% 10.00% 9.50%");
    view.sortByColumn(3, Qt::AscendingOrder);
    EXPECT_EQ(firstColumn(3), " Active Active");

    PidListItem a, b;
    a.setText(1, "42");
    b.setText(1, "42");
    a.setText(2, "12.50%");
    b.setText(2, "12.5%");
    EXPECT_EQ(a.compare(b, 1), 0);
    EXPECT_EQ(a.compare(b, 2), 0);
    b.setText(1, "420");
    EXPECT_EQ(a.compare(b, 1), -1);
    EXPECT_EQ(b.compare(a, 1), 1);
}

TEST_F(TestFormTest, ListShowsEveryCountedPidWithShareStatusAndColour)
{
    setPackets(0x12, 750);
    setPackets(100, 1);
    setPackets(9, 249);
    g_decoder.pidSlot[100] = 3;

    TestForm form(nullptr, main);
    EXPECT_EQ(rows(form), QStringList({"9|249|24.90%|", "18|750|75.00%|", "100|1|0.10%|Active"}));
    EXPECT_EQ(row(form, 1)->color(), QColor(191, 255, 191));           // the busiest
    EXPECT_EQ(row(form, 1)->background(3).color(), QColor(191, 255, 191));
    EXPECT_EQ(row(form, 0)->color(), QColor(255 - 51, 255, 255 - 51));  // 64 * (249 / 750)^0.2
    const int few = int(64.0 * std::pow(1.0 / 750.0, 0.2));           // 16
    EXPECT_EQ(row(form, 2)->color(), QColor(255 - few, 255, 255 - few));

    // PID 9 is selected after its row exists: its status stays empty. A new
    // PID shows up; the shares follow the new total.
    g_decoder.pidSlot[9] = 4;
    setPackets(9, 250);
    setPackets(4000, 999);
    form.updatePidList();
    EXPECT_EQ(rows(form), QStringList({"9|250|12.50%|", "18|750|37.50%|", "100|1|0.05%|Active",
                                       "4000|999|49.95%|"}));

    // A retune clears the counters: rows without packets since then go.
    g_decoder.pidPackets[9].store(0);
    g_decoder.pidPackets[0x12].store(0);
    g_decoder.pidPackets[4000].store(0);
    form.updatePidList();
    EXPECT_EQ(rows(form), QStringList({"100|1|100.00%|Active"}));
    // ... and come back, as new rows, when the PID counts again.
    setPackets(9, 5);
    form.updatePidList();
    EXPECT_EQ(rows(form), QStringList({"9|5|83.33%|Active", "100|1|16.67%|Active"}));

    // The user's sort column is kept over updates.
    form.listActivePids->sortByColumn(1, Qt::DescendingOrder);
    setPackets(100, 7);
    form.updatePidList();
    EXPECT_EQ(rows(form), QStringList({"100|7|58.33%|Active", "9|5|41.67%|Active"}));
}

TEST_F(TestFormTest, TickShowsErrorCountersAndRates)
{
    TestForm form(nullptr, main);
    g_decoder.rxContinuityErrors.store(1);
    g_decoder.rxScrambledErrors.store(2);
    g_decoder.rxPointerErrors.store(3);
    g_decoder.rxMemErrors.store(4);
    g_decoder.rxLengthErrors.store(5);
    g_decoder.rxCrcErrors.store(6);
    g_decoder.rxDropped.store(7);
    g_decoder.rxBbFrameErrors.store(8);
    g_decoder.rxGseErrors.store(9);
    g_decoder.rxUleErrors.store(10);
    g_decoder.rxErrors.store(10000000000ull);
    setSelected(0x12, 5000);
    setPackets(0x12, 5000);

    form.tick();
    const QLabel* labels[] = {form.labelRx_continuity_errors, form.labelRx_scrambled_errors,
                              form.labelRx_pointer_errors, form.labelRx_mem_errors,
                              form.labelRx_length_errors, form.labeltRx_crc_errors,
                              form.labelRx_dropped, form.labelRx_bbframe_errors, form.labelRx_gse_errors,
                              form.labelRx_ule_errors};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(labels[i]->text(), QString::number(i + 1)) << i;
    EXPECT_EQ(form.labelRx_errors->text(), "10000000000");
    // The first tick only takes the reference, whatever the counters hold.
    EXPECT_EQ(form.pidRates().samples[0], 0);

    // 1024 packets of 188 bytes in one second: 1504 kbit/s, counted over two PIDs.
    setSelected(0x12, 5000 + 1000);
    setSelected(0x20, 24);
    form.tick();
    EXPECT_EQ(form.pidRates().samples[0], 1504);
    form.tick();   // no new packets
    EXPECT_EQ(form.pidRates().samples[0], 0);
    expectRateLabels(form.labelPIDsMin, form.labelPIDsMax, form.labelPIDsAverage, "1504 1504 1504");
    expectMarkerAt(form.plotItems().pidAverageMarker, 1504);
    form.statusTs->updateAxes();
    EXPECT_EQ(form.statusTs->axisScaleDiv(QwtPlot::yLeft).upperBound(), 2048);

    // Counters cleared by a retune: that tick's sample is 0, not a wrap.
    g_decoder.pidSelectedPackets[0x12].store(0);
    form.tick();
    EXPECT_EQ(form.pidRates().samples[0], 0);
}

TEST_F(TestFormTest, TickShowsTheMainWindowsRatesAndMarker)
{
    TestForm form(nullptr, main);
    form.tick();
    EXPECT_FALSE(form.plotItems().mpeAverageMarker->isVisible());

    main.history.samples[0] = 300;
    main.history.peak = 5000;
    main.history.minimum = 20;
    main.history.average = 700;
    form.tick();
    expectRateLabels(form.labelMpeMin, form.labelMpeMax, form.labelMpeAverage, "20 5000 700");
    expectMarkerAt(form.plotItems().mpeAverageMarker, 700);
    form.statusTs->updateAxes();
    EXPECT_EQ(form.statusTs->axisScaleDiv(QwtPlot::yRight).upperBound(), 8192);
    EXPECT_EQ(form.statusTs->axisScaleDiv(QwtPlot::yLeft).upperBound(), 32);
    // The curve shows the main window's own array.
    EXPECT_EQ(form.plotItems().mpeCurve->sample(0).y(), 300);

    main.history.average = 0;
    form.tick();
    EXPECT_FALSE(form.plotItems().mpeAverageMarker->isVisible());

    // Frames the adapter lost are shown with the adapter's rates, and stand out.
    EXPECT_EQ(form.textMpeLost->text(), "Lost frames:");
    EXPECT_EQ(form.labelMpeLost->parentWidget(), form.groupMpeFilterRate);
    EXPECT_EQ(form.labelMpeLost->text(), "0");
    main.lost = 2537;
    form.tick();
    EXPECT_EQ(form.labelMpeLost->text(), "2537");
    EXPECT_TRUE(form.labelMpeLost->styleSheet().contains("red")) << form.labelMpeLost->styleSheet().toStdString();
}

TEST_F(TestFormTest, ChangesNothingInTheDecoderOrTheMainWindow)
{
    setPackets(0x12, 10);
    setPackets(200, 30);
    setSelected(0x12, 10);
    g_decoder.pidSlot[0x12] = 1;
    g_decoder.rxCrcErrors.store(2);
    g_decoder.rxErrors.store(2);
    main.history.samples[3] = 99;
    main.history.peak = 99;
    const std::vector<quint64> before = decoderCounters();
    const RateHistory mainBefore = main.history;
    {
        TestForm form(nullptr, main);
        for (int i = 0; i < 3; ++i)
            form.tick();
        form.listActivePids->sortByColumn(2, Qt::DescendingOrder);
    }
    EXPECT_EQ(decoderCounters(), before);
    EXPECT_EQ(std::memcmp(&mainBefore, &main.history, sizeof mainBefore), 0);
}

TEST_F(TestFormTest, WithoutDecoderTablesEverythingReadsZero)
{
    freePidTables();
    TestForm form(nullptr, main);
    form.tick();
    EXPECT_EQ(form.listActivePids->topLevelItemCount(), 0);
    EXPECT_EQ(form.pidRates().samples[0], 0);
}

TEST_F(TestFormTest, OpenForRunsModallyUnderTheMainWindowAndDeletesOnClose)
{
    QWidget mainWindow;
    mainWindow.show();
    QPointer<TestForm> seen;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        seen = mainWindow.findChild<TestForm*>("TS");
        if (!seen) {
            ADD_FAILURE() << "no window TS under the main window";
            QApplication::activeModalWidget()->close();
            return;
        }
        modal = seen->isModal() && seen->isVisible() && QApplication::activeModalWidget() == seen;
        seen->buttonExit->click();
    });
    TestForm::openFor(&mainWindow, main);
    EXPECT_TRUE(modal);
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(mainWindow.findChild<TestForm*>(), nullptr);
}

TEST(TestFormShortcut, OnlyControlT)
{
    auto press = [](int key, Qt::KeyboardModifiers modifiers) {
        return TestForm::isOpenShortcut(QKeyEvent(QEvent::KeyPress, key, modifiers));
    };
    EXPECT_TRUE(press(Qt::Key_T, Qt::ControlModifier));
    EXPECT_FALSE(press(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(press(Qt::Key_T, Qt::ControlModifier | Qt::AltModifier));
    EXPECT_FALSE(press(Qt::Key_T, Qt::NoModifier));
    EXPECT_FALSE(press(Qt::Key_R, Qt::ControlModifier));
}

} // namespace
