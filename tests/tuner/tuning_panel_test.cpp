// The tuning panel on a form with the main window's object names, driving a
// simulated Cedar card: the frequency window, the DiSEqC messages with their
// pauses, the tuning record, the applied values, delivery and LNB supply.
#include "tuner/tuning_panel.h"

#include "decoder/filter_pages.h"
#include "decoder/ts_input_filter.h"
#include "drivers/simcard/sim_register.h"
#include "graph_stand_ins.h"
#include "platform/win32/sync.h"
#include "test_support.h"
#include "tuner/card_control.h"
#include "tuner/device_catalogue.h"
#include "tuner/input_filter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <string>
#include <vector>

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "tuning_panel_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KEST_MESSAGEBOX", "stderr");
    static QApplication application(argc, argv);
    return application;
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        char text[4];
        std::snprintf(text, sizeof text, out.empty() ? "%02X" : " %02X", b);
        out += text;
    }
    return out;
}

using Events = std::vector<std::string>;

// The Tuner, LNB and DiSEqC widgets, and the filter page's mode buttons.
struct Form {
    Form()
    {
        auto* layout = new QVBoxLayout(&widget);
        auto add = [&](auto* w, const QString& name, QWidget* parent = nullptr) {
            w->setObjectName(name);
            if (parent != nullptr)
                w->setParent(parent);
            else
                layout->addWidget(w);
            return w;
        };
        freq = add(new QLineEdit, "lineEditFreq");
        symbolRate = add(new QLineEdit, "lineEditSmbRate");
        polarisation = add(new QComboBox, "comboBoxPolarisation");
        polarisation->addItems({"H (+18)", "V (+13)"});
        modulation = add(new QComboBox, "comboBoxModulation");
        modulation->addItems({"Auto", "DVB-S", "DVB-S2"});
        fec = add(new QComboBox, "comboBoxFEC");
        fec->addItems({"Auto", "1/2", "2/3", "3/4", "3/5", "4/5", "5/6", "5/11", "8/9", "9/10"});
        lof1 = add(new QLineEdit("9750"), "lineEditLOF1");
        lof2 = add(new QLineEdit("10600"), "lineEditLOF2");
        lnbSwitch = add(new QLineEdit("11700"), "lineEditSwitch");
        auto group = [&](const char* name) {
            QGroupBox* g = add(new QGroupBox, name);
            g->setCheckable(true);
            g->setChecked(false);
            return g;
        };
        diseqc10 = group("groupBoxDiSEqC1_0");
        port = add(new QComboBox, "comboBoxDiSEqC10", diseqc10);
        port->addItems({"LNB1", "LNB2", "LNB3", "LNB4"});
        repeat = add(new QSpinBox, "spinBoxTXCount", diseqc10);
        gap = add(new QSpinBox, "spinBoxGap", diseqc10);
        gap->setRange(50, 300);
        motor = group("groupBoxDiSEqC1_2");
        gotoPosition = add(new QLineEdit, "lineEditGoto", motor);
        motorRepeat = add(new QSpinBox, "spinBoxTXCountMotor", motor);
        raw = group("groupBoxRAW");
        for (int i = 0; i < 6; ++i)
            rawBytes.push_back(add(new QLineEdit, QString("RAW%1").arg(i), raw));
        lamp = add(new QFrame, "framePower");
        modes = new QButtonGroup(&widget);
        modes->setObjectName("buttonGroupFilter");
        modes->addButton(add(new QRadioButton, "radioButtonDefaultAddr"));
        modes->buttons().front()->setChecked(true);
        active = add(new QTreeWidget, "listActivePids");
        freq->setText("11778");
        symbolRate->setText("27500");
        polarisation->setCurrentIndex(1);
    }
    void setRaw(const QStringList& texts)
    {
        for (int i = 0; i < 6; ++i)
            rawBytes[i]->setText(i < texts.size() ? texts[i] : QString());
    }

    QApplication& application = app(); // before any widget
    QWidget widget;
    QLineEdit *freq, *symbolRate, *lof1, *lof2, *lnbSwitch, *gotoPosition;
    QComboBox *polarisation, *modulation, *fec, *port;
    QGroupBox *diseqc10, *motor, *raw;
    QSpinBox *repeat, *gap, *motorRepeat;
    std::vector<QLineEdit*> rawBytes;
    QFrame* lamp;
    QButtonGroup* modes;
    QTreeWidget* active;
};

// A Cedar card with its graph running, and a log of what the panel does to
// it: DiSEqC messages and pauses in the order they happen, delivery switches
// with the graph's state at that moment.
class TuningPanelTest : public dt::DecoderTest {
protected:
    void SetUp() override
    {
        dt::DecoderTest::SetUp();
        card = simcard::registerSimCard(tuner::kModelCedar, simcard::SimConfig{});
        ASSERT_TRUE(control.detectDevice());
        ASSERT_TRUE(control.startGraph());
        decoderState().packetCallback.store(nullptr); // the card's traffic is not under test here
        manager = control.bdaManager();
        previousSleep = platform::setSleepHandler([this](DWORD ms) {
            drain();
            events.push_back("sleep " + std::to_string(ms));
            pausedWhileRunning = pausedWhileRunning || manager->m_fGraphRunning;
        });
        tuner::setInputFilterHooks({nullptr, [this](IBaseFilter* filter, bool on) {
                                        drain();
                                        events.push_back(std::string(on ? "delivery on" : "delivery off") +
                                                         (manager->m_fGraphRunning ? ", running" : ", stopped"));
                                        dynamic_cast<TSInputFilter*>(filter)->setDelivery(on);
                                    }});
        filters = new FilterPages(&form.widget);
        panel = new tuner::TuningPanel(&form.widget, &control, filters);
        panel->defaultMac = {0x02, 0x4B, 0x45, 0x53, 0x54, 0x01};
    }
    void TearDown() override
    {
        tuner::setInputFilterHooks({});
        platform::setSleepHandler(previousSleep);
        control.destroyManager();
        simcard::unregisterSimCards();
        dt::DecoderTest::TearDown();
    }
    void drain()
    {
        const auto messages = card->frontend.diseqcMessages();
        for (size_t i = seen; i < messages.size(); ++i)
            events.push_back(hex(messages[i]));
        seen = messages.size();
    }
    // One tuning; returns what it logged and leaves the log empty.
    Events tune(bool fromInputs = true)
    {
        events.clear();
        drain();
        events.clear();
        panel->applyTuning(fromInputs);
        drain();
        return std::exchange(events, {});
    }
    // A tuning that is expected to be refused: the warning text it showed.
    std::string refused()
    {
        testing::internal::CaptureStderr();
        const Events done = tune();
        const std::string out = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(done.empty()) << done.front();
        EXPECT_TRUE(panel->tuningRejected);
        return out;
    }
    bool accepted()
    {
        testing::internal::CaptureStderr();
        tune();
        return testing::internal::GetCapturedStderr().empty() && !panel->tuningRejected;
    }
    const SatelliteParams& sent() const { return *manager->satelliteParams(); }

    Form form;
    tunertest::SystemFilters system;
    std::shared_ptr<simcard::SimCard> card;
    tuner::CardControl control;
    CBDAManager* manager = nullptr;
    FilterPages* filters = nullptr;
    tuner::TuningPanel* panel = nullptr;
    platform::SleepHandler previousSleep;
    Events events;
    size_t seen = 0;
    bool pausedWhileRunning = false;
};

// What every tuning does around its DiSEqC: delivery off (the panel's, then
// the graph stop's own), and on again once the graph runs.
Events framed(const Events& inside)
{
    Events all{"delivery off, running", "delivery off, running"};
    all.insert(all.end(), inside.begin(), inside.end());
    all.push_back("delivery on, running");
    return all;
}

std::string window(uint32_t low, uint32_t high)
{
    return "Error: Frequency should be from\n(" + std::to_string(low) + " MHz - " + std::to_string(high) +
           " MHz)\n";
}

} // namespace

TEST_F(TuningPanelTest, FrequencyWindowOfEachLnbType)
{
    struct Case {
        int lnbType;
        uint32_t low, high;
    } cases[] = {{0, 10700, 12750}, {1, 3000, 4200}, {2, 11700, 12900}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lnbType);
        panel->lnbTypeComboBox_activated(c.lnbType);
        form.freq->setText(QString::number(c.low));
        EXPECT_TRUE(accepted());
        form.freq->setText(QString::number(c.high));
        EXPECT_TRUE(accepted());
        form.freq->setText(QString::number(c.low - 1));
        EXPECT_EQ(refused(), window(c.low, c.high));
        form.freq->setText(QString::number(c.high + 1));
        EXPECT_EQ(refused(), window(c.low, c.high));
    }
    // Without a second oscillator, 7000 MHz is still taken for a C-band LNB.
    EXPECT_EQ(tuner::frequencyWindow(7000, 0, 11700).low, 4850u);
    EXPECT_EQ(tuner::frequencyWindow(7000, 0, 11700).high, 6050u);
    EXPECT_EQ(tuner::frequencyWindow(7001, 10600, 0).low, 7951u);
    EXPECT_EQ(tuner::frequencyWindow(7001, 10600, 0).high, 9151u);
}

TEST_F(TuningPanelTest, RefusalLeavesTheRunningGraphAloneAndWrapsUnsigned)
{
    ASSERT_TRUE(accepted());
    form.lof1->setText("x");
    form.lof2->clear();
    form.freq->setText("99999");
    // An oscillator below 2150 MHz puts the low limit past the top of 32 bits.
    EXPECT_EQ(refused(), window(4294965146u, 4294966346u));
    EXPECT_TRUE(panel->tuningBusy) << "no automatic re-tuning after a refusal";
    EXPECT_TRUE(manager->m_fGraphRunning);
    EXPECT_EQ(panel->currentFrequency, 11778);
}

TEST_F(TuningPanelTest, DeliveryOffBeforeTheGraphStopsAndOnAfterItRuns)
{
    form.diseqc10->setChecked(true);
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F1", "sleep 50"}));
    EXPECT_FALSE(pausedWhileRunning) << "DiSEqC goes out while the graph is stopped";
    EXPECT_TRUE(manager->m_fGraphRunning);
    EXPECT_TRUE(dynamic_cast<TSInputFilter*>(manager->m_pTSInputFilter.get())->deliveryEnabled());
}

TEST_F(TuningPanelTest, DiSEqC10RepeatsWithTheirGapsAndTheBandBit)
{
    form.diseqc10->setChecked(true);
    form.polarisation->setCurrentIndex(1); // vertical
    form.freq->setText("11699");
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F0", "sleep 50"}));
    form.freq->setText("11700");
    form.repeat->setValue(2);
    form.gap->setValue(100);
    form.port->setCurrentIndex(2);
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F9", "sleep 100",
                              "E1 10 38 F9", "sleep 100", "E1 10 38 F9", "sleep 100"}));
    EXPECT_EQ(control.lastSwitchPort, 2);

    // Horizontal adds 2; each port has its own bits.
    form.repeat->setValue(0);
    form.polarisation->setCurrentIndex(0);
    const char* bytes[] = {"E0 10 38 F3", "E0 10 38 F7", "E0 10 38 FB", "E0 10 38 FF"};
    for (int p = 0; p < 4; ++p) {
        form.port->setCurrentIndex(p);
        EXPECT_EQ(tune()[4], bytes[p]);
    }

    // Unchecked after a port: released once, then nothing.
    form.diseqc10->setChecked(false);
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 50"}));
    EXPECT_EQ(control.lastSwitchPort, 0);
    EXPECT_EQ(tune(), framed({}));
}

TEST_F(TuningPanelTest, MotorMovesOnceWithTheFirstCommandPause)
{
    form.motor->setChecked(true);
    form.gotoPosition->setText("12");
    form.motorRepeat->setValue(1);
    EXPECT_EQ(tune(), framed({"sleep 1000", "E0 31 6B 0C", "sleep 100", "E1 31 6B 0C",
                              "sleep 100"}));
    EXPECT_EQ(panel->lastGotoPosition, 12);
    EXPECT_EQ(tune(), framed({})) << "the same position again sends nothing";

    form.gotoPosition->setText("0");
    form.motorRepeat->setValue(0);
    EXPECT_EQ(tune(), framed({"E0 31 6B 00", "sleep 100"}))
        << "the long pause only comes first";
    form.gotoPosition->clear();
    EXPECT_EQ(tune(), framed({}));
    EXPECT_EQ(panel->lastGotoPosition, 0);
}

TEST_F(TuningPanelTest, RawCommandSendsTheBytesTypedInARow)
{
    form.raw->setChecked(true);
    form.setRaw({"E0", "10", "38", "f2"});
    EXPECT_EQ(tune(), framed({"sleep 1000", "E0 10 38 F2"}));
    struct Case {
        QStringList fields;
        Events sent;
    } cases[] = {
        {{"E0", "10", "38", "F2", "AA", "BB"}, {"E0 10 38 F2 AA BB"}},
        {{"E0", "10", "38", "", "AA", "BB"}, {"E0 10 38"}},
        {{"E0", "10", "38", "F2", "", "BB"}, {"E0 10 38 F2"}},
        {{"E0", "10", "", "F2"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.join(',').toStdString());
        form.setRaw(c.fields);
        EXPECT_EQ(tune(), framed(c.sent));
    }

    // Motor, raw command and switch in one tuning, in this order.
    form.motor->setChecked(true);
    form.gotoPosition->setText("5");
    form.diseqc10->setChecked(true);
    form.setRaw({"E0", "10", "38"});
    EXPECT_EQ(tune(), framed({"E0 31 6B 05", "sleep 100", "E0 10 38", "E0 00 00",
                              "sleep 100", "E0 10 38 F1", "sleep 50"}));
}

TEST_F(TuningPanelTest, TuningRecordAndTheFecAndModulationCodes)
{
    form.polarisation->setCurrentIndex(0);
    form.modulation->setCurrentIndex(2);
    form.fec->setCurrentIndex(3);
    tune();
    EXPECT_EQ(sent().carrierFrequency, 11778000u);
    EXPECT_EQ(sent().polarisation, 1);
    EXPECT_EQ(sent().lnbLowOscillator, 9750000u);
    EXPECT_EQ(sent().lnbHighOscillator, 10600000u);
    EXPECT_EQ(sent().lnbSwitchFrequency, 11700000u);
    EXPECT_EQ(sent().spectralInversion, 4);
    EXPECT_EQ(sent().symbolRate, 27500u);
    EXPECT_EQ(sent().innerFecRate, 3);
    EXPECT_EQ(sent().modulation, 21);
    EXPECT_TRUE(card->frontend.locked());

    const int32_t fecCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 8};
    for (int i = 0; i < 10; ++i) {
        form.fec->setCurrentIndex(i);
        tune();
        EXPECT_EQ(sent().innerFecRate, fecCodes[i]) << form.fec->currentText().toStdString();
    }
    EXPECT_EQ(tuner::innerFecCode(10), 0);
    const int32_t modulationCodes[] = {0, 20, 21};
    for (int i = 0; i < 3; ++i) {
        form.modulation->setCurrentIndex(i);
        tune();
        EXPECT_EQ(sent().modulation, modulationCodes[i]);
    }
    EXPECT_EQ(tuner::modulationCode(3), 0);
    form.polarisation->setCurrentIndex(1);
    tune();
    EXPECT_EQ(sent().polarisation, 2);
}

TEST_F(TuningPanelTest, AppliedValuesAreTheInputOfARetune)
{
    form.modulation->setCurrentIndex(1);
    form.fec->setCurrentIndex(8);
    panel->unlockedMs = 5000;
    tune();
    EXPECT_EQ(panel->currentFrequency, 11778);
    EXPECT_EQ(panel->currentSymbolRate, 27500);
    EXPECT_TRUE(panel->currentPolarisation);
    EXPECT_EQ(panel->currentModulation, 1);
    EXPECT_EQ(panel->currentFec, 8);
    EXPECT_FALSE(panel->tuningBusy);
    EXPECT_EQ(panel->unlockedMs, 0);

    // The tuner inputs change, the LNB too: a re-tune keeps the applied values
    // but takes the LNB from the page.
    form.freq->setText("12000");
    form.symbolRate->setText("22000");
    form.polarisation->setCurrentIndex(0);
    form.fec->setCurrentIndex(1);
    form.lof1->setText("9700");
    tune(false);
    EXPECT_EQ(sent().carrierFrequency, 11778000u);
    EXPECT_EQ(sent().symbolRate, 27500u);
    EXPECT_EQ(sent().polarisation, 2);
    EXPECT_EQ(sent().modulation, 20);
    EXPECT_EQ(sent().innerFecRate, 7);
    EXPECT_EQ(sent().lnbLowOscillator, 9700000u);

    // A stored frequency outside the window is refused like a typed one.
    panel->currentFrequency = 5000;
    testing::internal::CaptureStderr();
    tune(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), window(10650, 12750));
}

TEST_F(TuningPanelTest, AddressFilterAndCountersRestartWithEachTuning)
{
    g_decoder.rxCrcErrors.store(3);
    g_decoder.pidPackets[1001].store(9);
    new QTreeWidgetItem(form.active, QStringList{"1001"});
    tune();
    EXPECT_EQ(capture().stationAddress, (dt::Mac{0x02, 0x4B, 0x45, 0x53, 0x54, 0x01}));
    EXPECT_EQ(dt::value(g_decoder.rxCrcErrors), 0u);
    EXPECT_EQ(dt::value(g_decoder.pidPackets[1001]), 0u);
    EXPECT_EQ(form.active->topLevelItemCount(), 0);
}

TEST_F(TuningPanelTest, PowerOffDropsTuningsUntilSwitchedOn)
{
    panel->buttonPower_toggled(false);
    EXPECT_FALSE(card->frontend.lnbPowered());
    EXPECT_EQ(form.lamp->palette().color(QPalette::Window), QColor(Qt::lightGray));
    panel->tuningBusy = false;
    EXPECT_TRUE(tune().empty());
    EXPECT_TRUE(panel->tuningBusy);
    EXPECT_EQ(panel->currentFrequency, 0);

    panel->buttonPower_toggled(true);
    EXPECT_TRUE(card->frontend.lnbPowered());
    EXPECT_EQ(form.lamp->palette().color(QPalette::Window), QColor(Qt::green));
    EXPECT_EQ(tune().back(), "delivery on, running");
    EXPECT_FALSE(panel->tuningBusy);
}

TEST_F(TuningPanelTest, LnbTypePresets)
{
    panel->lnbTypeComboBox_activated(1);
    EXPECT_EQ(form.lof1->text(), "5150");
    EXPECT_EQ(form.lnbSwitch->text(), "0");
    EXPECT_EQ(form.lof2->text(), "0");
    EXPECT_FALSE(form.lof1->isEnabled());
    panel->lnbTypeComboBox_activated(2);
    EXPECT_EQ(form.lof1->text(), "10750");
    panel->lnbTypeComboBox_activated(3);
    EXPECT_EQ(form.lof1->text(), "9750");
    EXPECT_EQ(form.lnbSwitch->text(), "11700");
    EXPECT_EQ(form.lof2->text(), "10600");
    EXPECT_TRUE(form.lnbSwitch->isEnabled());
    form.lof1->setText("9000");
    panel->lnbTypeComboBox_activated(4);
    panel->lnbTypeComboBox_activated(-1);
    EXPECT_EQ(form.lof1->text(), "9000");
    EXPECT_TRUE(form.lof2->isEnabled());
    panel->lnbTypeComboBox_activated(0);
    EXPECT_EQ(form.lof2->text(), "10600");
    EXPECT_FALSE(form.lof2->isEnabled());
}
