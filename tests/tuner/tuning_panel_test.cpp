// The tuning panel on the main window's widgets, driving a
// simulated Cedar card: the frequency window, the DiSEqC messages with their
// pauses, the tuning record, the applied values, delivery and LNB supply.
#include "tuner/tuning_panel.h"
#include "decoder/bbframe.h"

#include "decoder/filter_pages.h"
#include "decoder/ts_input_filter.h"
#include "drivers/simcard/sim_register.h"
#include "graph_stand_ins.h"
#include "platform/win32/sync.h"
#include "test_support.h"
#include "tuner/card_control.h"
#include "tuner/device_catalogue.h"
#include "tuner/input_filter.h"
#include "tuner/pls.h"
#include "tests/form_ui.h"
#include "tests/offscreen_app.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace {

QApplication& app()
{
    qputenv("KEST_MESSAGEBOX", "stderr");
    return offscreenApplication("tuning_panel_tests");
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

// The Tuner, LNB and DiSEqC pages with a transponder typed in and every
// DiSEqC group off.
struct Form : FormUi {
    Form() : FormUi(app())
    {
        freq->setText("11778");
        symbolRate->setText("27500");
        lof1->setText("9750");
        lof2->setText("10600");
        lnbSwitch->setText("11700");
        for (QGroupBox* group : {diseqc10, motor, raw})
            group->setChecked(false);
    }
    void setRaw(const QStringList& texts)
    {
        for (int i = 0; i < 6; ++i)
            rawBytes[i]->setText(i < texts.size() ? texts[i] : QString());
    }

    QLineEdit* freq = ui.lineEditFreq;
    QLineEdit* symbolRate = ui.lineEditSmbRate;
    QComboBox* polarisation = ui.comboBoxPolarisation;
    QComboBox* modulation = ui.comboBoxModulation;
    QComboBox* fec = ui.comboBoxFEC;
    QLineEdit* lof1 = ui.lineEditLOF1;
    QLineEdit* lof2 = ui.lineEditLOF2;
    QLineEdit* lnbSwitch = ui.lineEditSwitch;
    QGroupBox* diseqc10 = ui.groupBoxDiSEqC1_0;
    QComboBox* port = ui.comboBoxDiSEqC10;
    QSpinBox* repeat = ui.spinBoxTXCount;
    QSpinBox* gap = ui.spinBoxGap;
    QGroupBox* motor = ui.groupBoxDiSEqC1_2;
    QLineEdit* gotoPosition = ui.lineEditGoto;
    QSpinBox* motorRepeat = ui.spinBoxTXCountMotor;
    QGroupBox* raw = ui.groupBoxRAW;
    std::vector<QLineEdit*> rawBytes{ui.RAW0, ui.RAW1, ui.RAW2, ui.RAW3, ui.RAW4, ui.RAW5};
    QFrame* lamp = ui.framePower;
    QRadioButton* ownAddress = ui.radioButtonDefaultAddr;
    QTreeWidget* active = ui.listActivePids;
};

// A Cedar card with its graph running, and a log of what the panel does to
// it: DiSEqC messages and pauses in the order they happen, delivery switches
// with the graph's state at that moment.
class TuningPanelTest : public dt::DecoderTest {
protected:
    void SetUp() override
    {
        dt::DecoderTest::SetUp();
        form.ownAddress->setChecked(true);
        form.polarisation->setCurrentIndex(1);
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
        filters = new FilterPages(&form.widget, form.ui);
        panel = new tuner::TuningPanel(&form.widget, form.ui, &control, filters);
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
        drain();
        events.clear();
        panel->applyTuning(fromInputs);
        drain();
        return std::exchange(events, {});
    }
    // Tunes and returns what the warning box said (empty: none); the log stays.
    std::string warning(bool fromInputs = true)
    {
        testing::internal::CaptureStderr();
        events = tune(fromInputs);
        return testing::internal::GetCapturedStderr();
    }
    const SatelliteParams& sent() const { return *manager->satelliteParams(); }

    Form form;
    tunertest::TransportInformationDevice transportInformation;
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

std::string window(uint64_t low, uint64_t high)
{
    return "Error: Frequency should be from (" + std::to_string(low) + " MHz - " + std::to_string(high) +
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
        for (uint32_t f : {c.low, c.high}) {
            form.freq->setText(QString::number(f));
            EXPECT_EQ(warning(), "");
            EXPECT_EQ(panel->currentFrequency, static_cast<int32_t>(f));
        }
        for (uint32_t f : {c.low - 1, c.high + 1}) {
            form.freq->setText(QString::number(f));
            EXPECT_EQ(warning(), window(c.low, c.high));
            EXPECT_TRUE(panel->tuningRejected);
        }
    }
    EXPECT_EQ(tuner::frequencyWindow(7000, 0, 11700).low, 4850u);
    EXPECT_EQ(tuner::frequencyWindow(7000, 0, 11700).high, 6050u);
    EXPECT_EQ(tuner::frequencyWindow(7001, 10600, 0).low, 7951u);
    EXPECT_EQ(tuner::frequencyWindow(7001, 10600, 0).high, 9151u);

    EXPECT_EQ(tuner::frequencyWindow(2150, 0, 0).low, 0u);
    EXPECT_EQ(tuner::frequencyWindow(2150, 0, 0).high, 1200u);

    // An oscillator below the card's input band cannot invert the spectrum
    // into it: no window may wrap below 0 (0, or no number, is a direct feed).
    form.lof1->setText("x");
    form.lof2->clear();
    form.freq->setText("99999");
    EXPECT_EQ(warning(), window(950, 2150));
    EXPECT_TRUE(events.empty()) << "a refusal leaves the running graph alone";
    EXPECT_TRUE(manager->m_fGraphRunning);
    EXPECT_TRUE(panel->tuningBusy) << "no automatic re-tuning after a refusal";
    EXPECT_EQ(panel->currentFrequency, 12900);
    form.freq->setText("1500");
    EXPECT_EQ(warning(), "");
    EXPECT_EQ(sent().carrierFrequency, 1500000u);
    form.lof1->setText("2149");
    form.freq->setText("4299");
    EXPECT_EQ(warning(), "");
    form.freq->setText("3098");
    EXPECT_EQ(warning(), window(3099, 4299));
    // Nor past the top of 32 bits: a negative oscillator reads as a huge one.
    form.lof1->setText("-1");
    form.lof2->setText("-1");
    form.freq->setText("1000");
    EXPECT_EQ(warning(), window(4294968245u, 4294969445u));
}

TEST_F(TuningPanelTest, ATuningStopsSendsRecordsAndRestarts)
{
    form.diseqc10->setChecked(true);
    form.modulation->setCurrentIndex(2);
    form.fec->setCurrentIndex(3);
    g_decoder.rxCrcErrors.store(3);
    g_decoder.pidPackets[1001].store(9);
    new QTreeWidgetItem(form.active, QStringList{"1001"});
    panel->unlockedMs = 5000;
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F1", "sleep 50"}));
    EXPECT_FALSE(pausedWhileRunning) << "DiSEqC goes out while the graph is stopped";
    EXPECT_TRUE(manager->m_fGraphRunning);
    EXPECT_TRUE(dynamic_cast<TSInputFilter*>(manager->m_pTSInputFilter.get())->deliveryEnabled());

    const SatelliteParams& p = sent();
    EXPECT_EQ(p.carrierFrequency, 11778000u);
    EXPECT_EQ(p.polarisation, 2);
    EXPECT_EQ(p.lnbLowOscillator, 9750000u);
    EXPECT_EQ(p.lnbHighOscillator, 10600000u);
    EXPECT_EQ(p.lnbSwitchFrequency, 11700000u);
    EXPECT_EQ(p.spectralInversion, 4);
    EXPECT_EQ(p.symbolRate, 27500u);
    EXPECT_EQ(p.innerFecRate, 3);
    EXPECT_EQ(p.modulation, 21);
    EXPECT_TRUE(card->frontend.locked());

    EXPECT_EQ(capture().stationAddress, (dt::Mac{0x02, 0x4B, 0x45, 0x53, 0x54, 0x01}));
    EXPECT_EQ(dt::value(g_decoder.rxCrcErrors), 0u);
    EXPECT_EQ(dt::value(g_decoder.pidPackets[1001]), 0u);
    EXPECT_EQ(form.active->topLevelItemCount(), 0);

    EXPECT_EQ(panel->currentFrequency, 11778);
    EXPECT_EQ(panel->currentSymbolRate, 27500);
    EXPECT_TRUE(panel->currentPolarisation);
    EXPECT_EQ(panel->currentModulation, 2);
    EXPECT_EQ(panel->currentFec, 3);
    EXPECT_FALSE(panel->tuningBusy);
    EXPECT_FALSE(panel->tuningRejected);
    EXPECT_EQ(panel->unlockedMs, 0);
}

TEST(PlsCodes, GoldAndRootNameTheSameSequence)
{
    EXPECT_EQ(pls::rootOfGold(0), 1u);
    EXPECT_EQ(pls::rootOfGold(8), 1024u);
    EXPECT_EQ(pls::goldOfRoot(1), 0u);
    EXPECT_EQ(pls::goldOfRoot(1024), 8u);
    for (uint32_t gold : {1u, 131070u, 262142u})
        EXPECT_EQ(pls::goldOfRoot(pls::rootOfGold(gold)), gold);
    EXPECT_FALSE(pls::goldCode(pls::Root, 0)) << "the sequence never reaches root 0";
    EXPECT_FALSE(pls::goldCode(pls::Gold, 262143)) << "gold codes wrap after 262142";
    EXPECT_FALSE(pls::goldCode(pls::Gold, -1));
    EXPECT_EQ(pls::goldCode(pls::Root, 262143).value_or(0), pls::goldOfRoot(262143).value_or(1));
}

TEST_F(TuningPanelTest, TheStreamRowConvertsPlsCodesAndItsSelectionReachesTheCardForOneTuning)
{
    QComboBox* mode = form.ui.comboBoxPLSMode;
    QLineEdit* code = form.ui.lineEditPLSCode;
    EXPECT_FALSE(form.ui.checkBoxBBFrames->isVisibleTo(&form.widget)) << "the simulated card has no baseband frames";
    panel->showStream(-1, pls::Gold, 8, false);
    mode->setCurrentIndex(pls::Root);
    emit mode->activated(pls::Root);
    EXPECT_EQ(code->text(), "1024") << "gold 8 is root 1024";
    mode->setCurrentIndex(pls::Gold);
    emit mode->activated(pls::Gold);
    EXPECT_EQ(code->text(), "8");

    form.modulation->setCurrentIndex(2);
    form.ui.spinBoxStream->setValue(3);
    panel->showStream(3, pls::Root, 1024, false);
    tune();
    for (const SatelliteParams& p : {sent(), card->frontend.committed()}) {
        EXPECT_EQ(p.streamId, 3);
        EXPECT_EQ(p.plsMode, pls::Root);
        EXPECT_EQ(p.plsCode, 1024);
    }
    EXPECT_EQ(panel->currentStreamId, 3);
    EXPECT_EQ(inputStreamFilter(), 3) << "GSE only from the input stream chosen";
    form.ui.spinBoxStream->setValue(-1);
    code->setText("0");
    mode->setCurrentIndex(pls::Gold);
    tune();
    EXPECT_EQ(card->frontend.committed().streamId, -1) << "the card forgets a stream a tuning does not name";
    EXPECT_EQ(card->frontend.committed().plsCode, 0);
    EXPECT_EQ(inputStreamFilter(), -1) << "GSE from every input stream again";

    form.modulation->setCurrentIndex(1);
    EXPECT_FALSE(form.ui.spinBoxStream->isEnabled()) << "DVB-S has no input streams";
    form.modulation->setCurrentIndex(0);
    EXPECT_TRUE(form.ui.spinBoxStream->isEnabled());
    mode->setCurrentIndex(pls::Root);
    EXPECT_EQ(warning(), "Error: PLS code should be from (1 - 262143)\n");
    EXPECT_TRUE(events.empty()) << "nothing tuned";
    EXPECT_TRUE(panel->tuningRejected);
}

TEST_F(TuningPanelTest, DiSEqC10RepeatsWithTheirGapsAndTheBandBit)
{
    form.diseqc10->setChecked(true);
    form.freq->setText("11699");
    form.gap->setValue(200); // no repeat: the gap is not used
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F0", "sleep 50"}));
    form.freq->setText("11700");
    form.repeat->setValue(2);
    form.gap->setValue(100);
    form.port->setCurrentIndex(2);
    EXPECT_EQ(tune(), framed({"E0 00 00", "sleep 100", "E0 10 38 F9", "sleep 100", "E1 10 38 F9", "sleep 100",
                              "E1 10 38 F9", "sleep 100"}));
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
    EXPECT_EQ(tune(), framed({"sleep 1000", "E0 31 6B 0C", "sleep 100", "E1 31 6B 0C", "sleep 100"}));
    EXPECT_EQ(panel->lastGotoPosition, 12);
    EXPECT_EQ(tune(), framed({})) << "the same position again sends nothing";

    form.gotoPosition->setText("0");
    form.motorRepeat->setValue(0);
    EXPECT_EQ(tune(), framed({"E0 31 6B 00", "sleep 100"})) << "the long pause only comes first";
    form.gotoPosition->clear();
    EXPECT_EQ(tune(), framed({}));
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
    EXPECT_EQ(tune(), framed({"E0 31 6B 05", "sleep 100", "E0 10 38", "E0 00 00", "sleep 100", "E0 10 38 F1",
                              "sleep 50"}));
}

TEST_F(TuningPanelTest, FecAndModulationCodes)
{
    const int32_t fecCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 8};
    for (int i = 0; i < 10; ++i) {
        form.fec->setCurrentIndex(i);
        tune();
        EXPECT_EQ(sent().innerFecRate, fecCodes[i]) << form.fec->currentText().toStdString();
    }
    const int32_t modulationCodes[] = {0, 20, 21};
    for (int i = 0; i < 3; ++i) {
        form.modulation->setCurrentIndex(i);
        tune();
        EXPECT_EQ(sent().modulation, modulationCodes[i]);
    }
    EXPECT_EQ(tuner::innerFecCode(10), 0);
    EXPECT_EQ(tuner::modulationCode(3), 0);
    form.polarisation->setCurrentIndex(0);
    tune();
    EXPECT_EQ(sent().polarisation, 1);
}

TEST_F(TuningPanelTest, RetuneTakesTheAppliedValuesAndTheLnbFromThePage)
{
    form.modulation->setCurrentIndex(1);
    form.fec->setCurrentIndex(8);
    tune();
    form.freq->setText("12000");
    form.symbolRate->setText("22000");
    form.polarisation->setCurrentIndex(0);
    form.modulation->setCurrentIndex(2);
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
    EXPECT_EQ(warning(false), window(10650, 12750));
}

// Every model but the Cedar has no choice of modulation and FEC: the selectors
// are disabled and show "Auto", and so the card must be tuned, also when the
// applied values come from the settings (the first tuning, the re-tunes).
TEST_F(TuningPanelTest, WithoutAChoiceTheTuningTakesTheModulationAndFecTheSelectorsShow)
{
    form.modulation->setEnabled(false);
    form.fec->setEnabled(false);
    panel->currentFrequency = 11778;
    panel->currentModulation = 2;
    panel->currentFec = 3;
    tune(false);
    EXPECT_EQ(sent().modulation, 0);
    EXPECT_EQ(sent().innerFecRate, 0);
    EXPECT_EQ(panel->currentModulation, 0);
    EXPECT_EQ(panel->currentFec, 0);
    form.fec->setCurrentIndex(3); // as a provider preset or the settings might leave it
    tune(true);
    EXPECT_EQ(sent().innerFecRate, 3) << "what the selector shows";
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
    EXPECT_EQ(tune(), framed({}));
    EXPECT_FALSE(panel->tuningBusy);
}

TEST_F(TuningPanelTest, LnbTypePresetsLockTheFieldsExceptCustom)
{
    panel->lnbTypeComboBox_activated(1);
    EXPECT_FALSE(form.lof1->isEnabled());
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
}
