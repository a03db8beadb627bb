// The Linux DVB driver against fake device nodes whose frontend is a
// demodulator model: what each tuning carries, the search of open choices,
// the DiSEqC bus timing, statistics, the stream and the configuration.
#include "drivers/linuxdvb/dvb_card.h"
#include "drivers/linuxdvb/dvb_config.h"
#include "drivers/linuxdvb/dvb_frontend.h"
#include "drivers/linuxdvb/dvb_search.h"
#include "drivers/linuxdvb/dvb_stream.h"
#include "platform/win32/debug.h"
#include "tests/drivers/linuxdvb/fake_devices.h"
#include "tuner/pls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

using namespace linuxdvb;
using demodmodel::Transponder;
using linuxdvbtest::FakeDevices;

namespace {

SatelliteParams universal(uint32_t carrierMhz, int32_t polarisation, int32_t modulation = card::kModulationQpsk)
{
    SatelliteParams t;
    t.carrierFrequency = carrierMhz * 1000;
    t.polarisation = polarisation;
    t.symbolRate = 27500;
    t.modulation = modulation;
    return t;
}

Transponder transponder(uint32_t mhz, bool horizontal, uint32_t system, uint32_t modulation, int port = 0)
{
    Transponder t;
    t.frequencyMhz = mhz;
    t.horizontal = horizontal;
    t.system = system;
    t.modulation = modulation;
    t.port = port;
    return t;
}

std::vector<std::string> after(const std::vector<std::string>& calls, size_t from)
{
    return std::vector<std::string>(calls.begin() + static_cast<long>(from), calls.end());
}

template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 10000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The bus clock and the model's clock are one: a sleep of the driver moves both.
class SharedClock final : public BusClock {
public:
    int64_t nowUs() override { return now.load(); }
    void sleepUs(int64_t us) override
    {
        now += us;
        slept += us;
    }
    std::atomic<int64_t> now{1000000000};
    std::atomic<int64_t> slept{0};
};

class DvbFrontendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        devices.model.clock = [this] { return clock.now.load(); };
        ASSERT_TRUE(frontend.open(nullptr));
    }
    std::vector<std::string> commit(const SatelliteParams& t)
    {
        const size_t from = devices.callLog().size();
        EXPECT_TRUE(frontend.commit(t));
        return after(devices.callLog(), from);
    }
    std::vector<std::string> tunings()
    {
        return devices.withModel([](demodmodel::DemodModel& m) { return m.tunings; });
    }
    int locked()
    {
        return devices.withModel([](demodmodel::DemodModel& m) { return m.lockedTransponder(); });
    }
    std::vector<std::string> violations()
    {
        return devices.withModel([](demodmodel::DemodModel& m) { return m.violations; });
    }
    // The panel's pause between commands, on the shared clock.
    void pause(int ms) { clock.now += ms * 1000; }

    platform::DebugCapture debug;
    SharedClock clock;
    FakeDevices devices;
    DvbFrontend frontend{devices, 9, 0, clock};
};

} // namespace

TEST(DvbSearch, CandidatesFollowTheChoiceAndWhatTheFrontendOffers)
{
    auto names = [](int32_t code, FrontendSystems systems) {
        std::string all;
        for (const Candidate& c : searchCandidates(code, systems))
            all += (all.empty() ? "" : ", ") + candidateName(c);
        return all;
    };
    const FrontendSystems s2{true, true, false}, qamAuto{true, true, true}, sOnly{true, false, false}, none{};
    EXPECT_EQ(names(0, s2), "DVB-S, DVB-S2 8PSK, DVB-S2 QPSK, DVB-S2 16APSK, DVB-S2 32APSK");
    EXPECT_EQ(names(0, qamAuto), "DVB-S, DVB-S2") << "the demodulator finds the modulation";
    EXPECT_EQ(names(20, s2), "DVB-S");
    EXPECT_EQ(names(21, s2), "DVB-S2 8PSK, DVB-S2 QPSK, DVB-S2 16APSK, DVB-S2 32APSK");
    EXPECT_EQ(names(21, qamAuto), "DVB-S2");
    EXPECT_EQ(names(0, sOnly), "DVB-S") << "only systems the frontend lists";
    EXPECT_EQ(names(21, sOnly), "");
    EXPECT_EQ(names(0, none), "");
    // A whole round of five stays well within the twelve seconds before a re-apply.
    EXPECT_EQ(lockWait(27500), std::chrono::milliseconds(1181));
    EXPECT_EQ(lockWait(1000), std::chrono::milliseconds(2000));
    EXPECT_EQ(lockWait(0), std::chrono::milliseconds(2000));
    EXPECT_LE(lockWait(2000) * 5, std::chrono::seconds(10));
}

TEST_F(DvbFrontendTest, DvbSCarriesQpskAndRollOff035AndDvbS2ItsModulation)
{
    EXPECT_EQ(frontend.name(), "Model DVB-S2 demodulator");
    EXPECT_EQ(commit(universal(11000, card::kPolarisationVertical)),
              (std::vector<std::string>{"voltage 13", "tone off",
                                        "tune clear S if=1250000 sr=27500000 fec=9 mod=QPSK rolloff=0.35 go"}));
    EXPECT_EQ(commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2)),
              (std::vector<std::string>{"voltage 18", "tone off", "tone on",
                                        "tune clear S2 if=1588000 sr=27500000 fec=9 mod=8PSK rolloff=auto pilot=auto go"}));
    SatelliteParams c = universal(3800, card::kPolarisationHorizontal);
    c.lnbLowOscillator = 5150000;
    c.lnbHighOscillator = 5150000;
    c.lnbSwitchFrequency = 0;
    EXPECT_EQ(commit(c).back(), "tune clear S if=1350000 sr=27500000 fec=9 mod=QPSK rolloff=0.35 go")
        << "a C-band LNB never gets the tone";
    SatelliteParams single = universal(11900, card::kPolarisationVertical, card::kModulationNotDefined);
    single.lnbLowOscillator = 10750000;
    single.lnbHighOscillator = 0;
    single.lnbSwitchFrequency = 0;
    single.innerFecRate = 3;
    EXPECT_EQ(commit(single).back(), "tune clear S if=1150000 sr=27500000 fec=3 mod=QPSK rolloff=0.35 go")
        << "\"Auto\" starts with DVB-S";
}

TEST_F(DvbFrontendTest, AutoFindsDvbS2TranspondersOnBothDemodulatorVariantsAndStopsAtTheLock)
{
    for (const bool qamAuto : {false, true}) {
        SCOPED_TRACE(qamAuto ? "FE_CAN_QAM_AUTO" : "modulation searched");
        for (const uint32_t modulation : {PSK_8, APSK_16}) {
            FakeDevices devices;
            devices.model.variant.qamAuto = qamAuto;
            devices.model.transponders = {transponder(11778, true, SYS_DVBS, QPSK),
                                          transponder(12188, true, SYS_DVBS2, modulation)};
            DvbFrontend frontend(devices, 9, 0);
            frontend.setLockWaitForTests(std::chrono::milliseconds(20));
            ASSERT_TRUE(frontend.open(nullptr));
            debug.clear();
            ASSERT_TRUE(frontend.commit(universal(12188, card::kPolarisationHorizontal, card::kModulationNotDefined)));
            ASSERT_TRUE(eventually([&] { return frontend.status().locked; }));
            const std::string name = qamAuto ? "DVB-S2" : modulation == PSK_8 ? "DVB-S2 8PSK" : "DVB-S2 16APSK";
            ASSERT_TRUE(eventually([&] { return debug.all().find("locked with " + name) != std::string::npos; }))
                << debug.all();
            const size_t tuned = devices.withModel([](demodmodel::DemodModel& m) { return m.tunings.size(); });
            EXPECT_EQ(tuned, qamAuto ? 2u : modulation == PSK_8 ? 2u : 4u);
            EXPECT_EQ(devices.withModel([](demodmodel::DemodModel& m) { return m.tunings.back(); }).rfind(qamAuto ? "S2 AUTO" : "S2", 0), 0u);
            EXPECT_EQ(count(debug.all(), "searching "), tuned) << "one line per attempt";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(devices.withModel([](demodmodel::DemodModel& m) { return m.tunings.size(); }), tuned)
                << "nothing is retuned once locked";
        }
    }
    // The DVB-S transponder locks at the first candidate.
    devices.model.transponders = {transponder(11778, true, SYS_DVBS, QPSK)};
    commit(universal(11778, card::kPolarisationHorizontal, card::kModulationNotDefined));
    EXPECT_TRUE(eventually([&] { return debug.all().find("locked with DVB-S on 11778 MHz") != std::string::npos; }));
    EXPECT_EQ(tunings().size(), 1u);
}

TEST_F(DvbFrontendTest, ARoundStartsWithWhatLockedAndAReapplyGoesOnWithIt)
{
    frontend.setLockWaitForTests(std::chrono::milliseconds(15));
    devices.model.transponders = {transponder(12188, true, SYS_DVBS2, APSK_16)};
    const SatelliteParams s2 = universal(12188, card::kPolarisationHorizontal, card::kModulationNotDefined);
    commit(s2);
    ASSERT_TRUE(eventually([&] { return locked() == 0; }));
    ASSERT_TRUE(eventually([&] { return debug.all().find("locked with DVB-S2 16APSK") != std::string::npos; }));
    commit(universal(11000, card::kPolarisationVertical, card::kModulationNotDefined));
    commit(s2);
    EXPECT_EQ(tunings().back().substr(0, 9), "S2 16APSK") << "what last locked here comes first";

    // Nothing locks on 11000 V: the round goes on, and a re-apply does not restart it.
    const SatelliteParams nothing = universal(11000, card::kPolarisationVertical, card::kModulationNotDefined);
    commit(nothing);
    ASSERT_TRUE(eventually([&] { return tunings().back().substr(0, 7) == "S2 QPSK"; })) << "third candidate";
    frontend.setLockWaitForTests(std::chrono::seconds(30));
    const std::string inProgress = tunings().back();
    commit(nothing);
    EXPECT_EQ(tunings().back(), inProgress) << "the candidate whose turn it is, not DVB-S again";
}

TEST_F(DvbFrontendTest, NothingLockingSaysUnlockedOnceAndNeverSpins)
{
    frontend.setLockWaitForTests(std::chrono::milliseconds(10));
    devices.model.transponders = {transponder(12188, true, SYS_DVBS2, PSK_8)};
    devices.model.variant.refusedModulations = {APSK_32};
    const SatelliteParams wrong = universal(11000, card::kPolarisationVertical, card::kModulationNotDefined);
    commit(wrong);
    const std::string unlocked = "no lock on 11000 MHz V 27500 kS/s with DVB-S, DVB-S2 8PSK, DVB-S2 QPSK, DVB-S2 "
                                 "16APSK, DVB-S2 32APSK: Unlocked";
    ASSERT_TRUE(eventually([&] { return count(debug.all(), unlocked) != 0; })) << debug.all();
    const size_t beforeReapply = tunings().size();
    commit(wrong); // the automatic re-apply
    // A whole round and more after it: had it started the report afresh, it would have said it again.
    ASSERT_TRUE(eventually([&] { return tunings().size() >= beforeReapply + 6; })) << tunings().size();
    EXPECT_FALSE(frontend.status().locked);
    EXPECT_EQ(count(debug.all(), unlocked), 1u) << debug.all();
    EXPECT_LE(tunings().size(), 45u) << "one tuning per wait, not a tight loop";
    EXPECT_GE(tunings().size(), 8u) << "the search goes round";
    const auto calls = devices.callLog();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.find("mod=32APSK") != std::string::npos; }),
              2)
        << "a modulation the frontend refused (with automatic and with fixed roll-off) is not asked again";
    EXPECT_EQ(count(debug.all(), "the frontend refuses DVB-S2 32APSK: Invalid argument"), 1u);
}

TEST_F(DvbFrontendTest, RefusalsAndMissingSystemsLeaveItUnlockedAndAreSaidOnce)
{
    // A frontend that cannot tune what was chosen.
    devices.model.variant.systems = {SYS_DVBS};
    frontend.close();
    ASSERT_TRUE(frontend.open(nullptr));
    const size_t before = tunings().size();
    commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    EXPECT_EQ(tunings().size(), before);
    EXPECT_EQ(count(debug.all(), "the frontend offers no DVB-S2: Unlocked"), 1u) << debug.all();
    EXPECT_FALSE(frontend.status().locked);

    // A frontend that refuses every tuning.
    devices.model.variant.systems = {SYS_DVBS, SYS_DVBS2};
    devices.model.variant.refusedRequest = FE_SET_PROPERTY;
    frontend.close();
    ASSERT_TRUE(frontend.open(nullptr));
    debug.clear();
    commit(universal(11000, card::kPolarisationVertical, card::kModulationNotDefined));
    commit(universal(11000, card::kPolarisationVertical, card::kModulationNotDefined));
    // Refused within the commit: no search goes on that could still report.
    EXPECT_EQ(count(debug.all(), "refuses every tuning of 11000 MHz V 27500 kS/s: Unlocked"), 1u) << debug.all();
    EXPECT_EQ(count(debug.all(), "the frontend refuses DVB-S2 16APSK: Operation not supported"), 1u);

    // One that refuses the lock query: unlocked, said once.
    devices.model.variant.refusedRequest = FE_READ_STATUS;
    debug.clear();
    EXPECT_FALSE(frontend.status().locked);
    EXPECT_FALSE(frontend.status().locked);
    EXPECT_EQ(count(debug.all(), "refuses to tell its lock"), 1u);

    // One that wants roll-off and pilots named for DVB-S2.
    devices.model.variant.refusedRequest = 0;
    devices.model.variant.refusesAutoRollOff = true;
    devices.model.transponders = {transponder(12188, true, SYS_DVBS2, PSK_8)};
    const auto calls = commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    EXPECT_EQ(calls.back(), "tune clear S2 if=1588000 sr=27500000 fec=9 mod=8PSK rolloff=0.35 pilot=on go");
    EXPECT_TRUE(eventually([&] { return frontend.status().locked; }));
}

TEST_F(DvbFrontendTest, DiseqcMessagesHaveAQuietBusAroundThem)
{
    // High band, horizontal: tone on.
    devices.model.transponders = {transponder(12188, true, SYS_DVBS2, PSK_8, 3)};
    commit(universal(11000, card::kPolarisationHorizontal, card::kModulationDvbS2));
    commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    pause(500);
    const size_t from = devices.callLog().size();
    const int64_t start = clock.now;
    // As the panel sends a switch command with repeat 1 and the shortest gap: reset, 100 ms, E0, 50 ms, E1, 50 ms.
    const uint8_t reset[] = {0xE0, 0x00, 0x00};
    const uint8_t port3[] = {0xE0, 0x10, 0x38, 0xFF};
    const uint8_t again[] = {0xE1, 0x10, 0x38, 0xFF};
    ASSERT_TRUE(frontend.sendDiseqc(reset, sizeof reset));
    EXPECT_GE(clock.now - start, 15000) << "the tone was on: off, then 15 ms";
    pause(100);
    ASSERT_TRUE(frontend.sendDiseqc(port3, sizeof port3));
    pause(50);
    ASSERT_TRUE(frontend.sendDiseqc(again, sizeof again));
    pause(50);
    const int64_t beforeCommit = clock.now;
    commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    EXPECT_EQ(clock.now - beforeCommit, 4 * 13500 + 15000 - 50000) << "the message's bus time and 15 ms before the tone";
    EXPECT_EQ(after(devices.callLog(), from),
              (std::vector<std::string>{"tone off", "diseqc e0 00 00", "diseqc e0 10 38 ff", "diseqc e1 10 38 ff",
                                        "voltage 18", "tone off", "tone on",
                                        "tune clear S2 if=1588000 sr=27500000 fec=9 mod=8PSK rolloff=auto pilot=auto go"}));
    EXPECT_EQ(violations(), std::vector<std::string>{});
    EXPECT_EQ(devices.withModel([](demodmodel::DemodModel& m) { return m.switchPort(); }), 3);
    EXPECT_TRUE(eventually([&] { return frontend.status().locked; })) << "behind port 3";

    // Back to back, and straight after a supply change: the driver waits.
    ASSERT_TRUE(frontend.setLnbPower(false));
    EXPECT_FALSE(frontend.sendDiseqc(reset, sizeof reset)) << "no message without the supply";
    ASSERT_TRUE(frontend.setLnbPower(true));
    const int64_t onAt = clock.now;
    const uint8_t port1[] = {0xE0, 0x10, 0x38, 0xF7};
    ASSERT_TRUE(frontend.sendDiseqc(port1, sizeof port1));
    EXPECT_EQ(clock.now - onAt, 15000);
    ASSERT_TRUE(frontend.sendDiseqc(reset, sizeof reset));
    EXPECT_EQ(clock.now - onAt, 15000 + 4 * 13500 + 15000);
    commit(universal(12188, card::kPolarisationHorizontal, card::kModulationDvbS2));
    EXPECT_EQ(violations(), std::vector<std::string>{});
    EXPECT_EQ(devices.withModel([](demodmodel::DemodModel& m) { return m.switchCommands; }),
              (std::vector<int>{3, 3, 1}));
}

TEST_F(DvbFrontendTest, TheModelIgnoresMessagesWithoutAQuietBus)
{
    // Straight to the model, as a driver without pacing would: none of these count.
    demodmodel::DemodModel& m = devices.model;
    auto send = [&](std::initializer_list<uint8_t> bytes) {
        dvb_diseqc_master_cmd c{};
        std::copy(bytes.begin(), bytes.end(), c.msg);
        c.msg_len = static_cast<uint8_t>(bytes.size());
        m.ioctl(FE_DISEQC_SEND_MASTER_CMD, &c);
    };
    send({0xE0, 0x10, 0x38, 0xF4});
    pause(100);
    m.ioctl(FE_SET_VOLTAGE, reinterpret_cast<void*>(SEC_VOLTAGE_18));
    send({0xE0, 0x10, 0x38, 0xF4});
    pause(100);
    m.ioctl(FE_SET_TONE, reinterpret_cast<void*>(SEC_TONE_ON));
    send({0xE0, 0x10, 0x38, 0xF4});
    m.ioctl(FE_SET_TONE, reinterpret_cast<void*>(SEC_TONE_OFF));
    pause(100);
    send({0xE0, 0x10, 0x38, 0xF8});
    send({0xE0, 0x10, 0x38, 0xF4});
    pause(100);
    EXPECT_EQ(m.violations.size(), 5u) << ::testing::PrintToString(m.violations);
    EXPECT_EQ(m.switchPort(), 0);
    pause(100);
    send({0xE0, 0x10, 0x38, 0xF8});
    pause(100);
    EXPECT_EQ(m.switchPort(), 2) << "a message on a quiet bus counts";
}

TEST_F(DvbFrontendTest, MessagesIssuedWhileClosedWaitForTheCommit)
{
    frontend.close();
    const uint8_t message[] = {0xE0, 0x10, 0x38, 0xF0};
    ASSERT_TRUE(frontend.sendDiseqc(message, sizeof message));
    ASSERT_TRUE(frontend.open(nullptr));
    const auto calls = commit(universal(11000, card::kPolarisationVertical));
    EXPECT_EQ(calls[0], "voltage 13");
    EXPECT_EQ(calls[1], "tone off");
    EXPECT_EQ(calls[2], "diseqc e0 10 38 f0");
    EXPECT_EQ(violations(), std::vector<std::string>{});
    const uint8_t longMessage[7] = {0xE0, 0x10, 0x38, 0xF3, 0, 0, 0};
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 7));
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 2));
}

TEST_F(DvbFrontendTest, SupplyOffAndBackToThePolarisationsVoltage)
{
    commit(universal(11000, card::kPolarisationVertical));
    const size_t from = devices.callLog().size();
    ASSERT_TRUE(frontend.setLnbPower(false));
    EXPECT_FALSE(frontend.lnbPowered());
    ASSERT_TRUE(frontend.setLnbPower(true));
    EXPECT_EQ(after(devices.callLog(), from), (std::vector<std::string>{"voltage off", "voltage 13"}));
    frontend.setLnbPower(false);
    EXPECT_EQ(commit(universal(11000, card::kPolarisationHorizontal))[0], "voltage off")
        << "a tuning does not switch the supply back on";
}

TEST_F(DvbFrontendTest, StatisticsAsRealFrontendsGiveThem)
{
    Transponder t = transponder(11000, false, SYS_DVBS, QPSK);
    t.strengthMilliDbm = -60000;
    t.cnrMilliDb = 9000;
    devices.model.transponders = {t};
    commit(universal(11000, card::kPolarisationVertical));
    SignalStatus s = frontend.status();
    EXPECT_TRUE(s.locked);
    EXPECT_EQ(s.strength, 50) << "-60 dBm";
    EXPECT_EQ(s.quality, 60) << "9 dB";
    // A driver's value beyond any sense saturates; it must not overflow into the other end.
    devices.model.transponders[0].strengthMilliDbm = INT64_MAX;
    EXPECT_EQ(frontend.status().strength, 100);
    devices.model.transponders[0].strengthMilliDbm = -60000;

    devices.model.variant.strengthInDbm = false;
    s = frontend.status();
    EXPECT_EQ(s.strength, 75) << "relative 0xC000";

    devices.model.variant.v5Stats = false;
    s = frontend.status();
    EXPECT_EQ(s.strength, 75);
    EXPECT_EQ(s.quality, 62) << "legacy SNR 0xA000";

    devices.model.variant.v5Stats = true;
    commit(universal(11100, card::kPolarisationVertical));
    s = frontend.status();
    EXPECT_FALSE(s.locked);
    EXPECT_EQ(s.strength, 3) << "noise only";
    EXPECT_EQ(s.quality, 0) << "no quality without lock";
}

TEST(DvbStreamTest, WholeMultiplexOrOneFilterPerPid)
{
    FakeDevices devices;
    DvbStream stream(devices, 9);
    ASSERT_TRUE(stream.start({0x100, 0x101}, nullptr));
    EXPECT_TRUE(stream.wholeMultiplex());
    EXPECT_EQ(devices.calls, (std::vector<std::string>{"open dvr0", "buffer 16777216", "open demux0",
                                                       "filter 8192 tap start"}));
    stream.stop();

    FakeDevices refusing;
    refusing.refuseWholeMultiplex = true;
    DvbStream fallback(refusing, 9);
    ASSERT_TRUE(fallback.start({0x100, 0x101}, nullptr));
    EXPECT_FALSE(fallback.wholeMultiplex());
    EXPECT_EQ(refusing.calls, (std::vector<std::string>{"open dvr0", "buffer 16777216", "open demux0",
                                                        "filter 8192 tap start", "close demux0", "open demux0",
                                                        "filter 256 tap start", "open demux0", "filter 257 tap start"}));
}

TEST(DvbStreamTest, OverflowLosesOnlyItsBytesAndAVanishedDeviceEndsTheStream)
{
    FakeDevices devices;
    devices.dvr = {{std::vector<uint8_t>(1000, 0x47)}, {{}, EOVERFLOW}, {std::vector<uint8_t>(500, 0x11)}, {{}, ENODEV}};
    DvbStream stream(devices, 9);
    ASSERT_TRUE(stream.start({}, nullptr));
    std::vector<uint8_t> buffer(65536);
    size_t n = 0, total = 0;
    std::vector<DvbStream::ReadResult> results;
    for (int i = 0; i < 10; ++i) {
        const auto r = stream.read(buffer.data(), buffer.size(), &n, 10);
        total += n;
        results.push_back(r);
        if (r == DvbStream::ReadResult::Ended)
            break;
    }
    EXPECT_EQ(total, 1500u);
    EXPECT_EQ(stream.overflows(), 1u);
    EXPECT_EQ(results.back(), DvbStream::ReadResult::Ended);
    EXPECT_EQ(results.front(), DvbStream::ReadResult::Data);
}

TEST(DvbStreamTest, MissingDeviceNamesIt)
{
    FakeDevices devices;
    DvbStream stream(devices, 3);
    std::string error;
    EXPECT_FALSE(stream.start({}, &error));
    EXPECT_NE(error.find("/dev/dvb/adapter3/dvr0"), std::string::npos) << error;
}

TEST(DvbStreamTest, FrontendNReadsDemuxNAndDvrNWhereTheyExist)
{
    FakeDevices devices;
    devices.nodes = {"frontend0", "frontend1", "demux0", "demux1", "dvr0", "dvr1"};
    DvbCardDevice second(devices, DvbCard{9, 1, "cedar"});
    ASSERT_TRUE(second.open(nullptr));
    ASSERT_TRUE(second.stream().start({}, nullptr));
    EXPECT_EQ(devices.callLog(), (std::vector<std::string>{"open frontend1", "open dvr1", "buffer 16777216",
                                                           "open demux1", "filter 8192 tap start"}));
    second.close();

    FakeDevices shared; // one demux for all frontends
    shared.nodes = {"frontend0", "frontend1", "demux0", "dvr0"};
    DvbCardDevice one(shared, DvbCard{9, 1, "cedar"});
    ASSERT_TRUE(one.stream().start({}, nullptr));
    EXPECT_EQ(shared.callLog().front(), "open dvr0");
    EXPECT_EQ(shared.callLog()[2], "open demux0");
}

TEST(DvbConfig, CardEntriesDiscoveryAndMac)
{
    auto c = parseCardEntry("dvb:9:0:cedar");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->adapter, 9);
    EXPECT_EQ(c->frontend, 0);
    EXPECT_EQ(c->model, "cedar");
    c = parseCardEntry("dvb:2:maple");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->adapter, 2);
    EXPECT_EQ(c->frontend, 0);
    for (const char* bad : {"dvb:", "dvb:x:cedar", "dvb:1:oak", "sim:cedar", "dvb:1:2:3:cedar", "dvb:1000:cedar"})
        EXPECT_FALSE(parseCardEntry(bad)) << bad;

    FakeDevices devices;
    const auto found = findSatelliteAdapter(devices);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->adapter, 9);
    EXPECT_EQ(found->model, "cedar");
    FakeDevices terrestrial;
    terrestrial.model.variant.systems = {SYS_DVBT, SYS_DVBT2};
    EXPECT_FALSE(findSatelliteAdapter(terrestrial));
    FakeDevices old; // before DTV_ENUM_DELSYS: FE_GET_INFO tells
    old.model.variant.noEnumDelsys = true;
    EXPECT_TRUE(findSatelliteAdapter(old));

    unsetenv("KEST_DVB_MAC");
    const auto mac = cardMacAddress(9, 0, "Fake DVB-S2 frontend");
    EXPECT_EQ(mac, cardMacAddress(9, 0, "Fake DVB-S2 frontend")) << "stable";
    EXPECT_NE(mac, cardMacAddress(8, 0, "Fake DVB-S2 frontend"));
    EXPECT_EQ(mac[0], 0x02) << "locally administered unicast";
    setenv("KEST_DVB_MAC", "02:11:22:33:44:55", 1);
    EXPECT_EQ(cardMacAddress(9, 0, "x"), (std::array<uint8_t, 6>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    unsetenv("KEST_DVB_MAC");
}

TEST(DvbFec, PanelCodesToLinuxRates)
{
    EXPECT_EQ(linuxCodeRate(0), static_cast<uint32_t>(FEC_AUTO));
    EXPECT_EQ(linuxCodeRate(1), static_cast<uint32_t>(FEC_1_2));
    EXPECT_EQ(linuxCodeRate(4), static_cast<uint32_t>(FEC_3_5));
    EXPECT_EQ(linuxCodeRate(7), static_cast<uint32_t>(FEC_AUTO)) << "5/11 and 8/9 are sent alike";
    EXPECT_EQ(linuxCodeRate(8), static_cast<uint32_t>(FEC_9_10));
    EXPECT_EQ(linuxCodeRate(-1), static_cast<uint32_t>(FEC_AUTO));
}

TEST(DvbCardDeviceTest, CommandBlocksAndTheCommittedTuning)
{
    FakeDevices devices;
    DvbCardDevice card(devices, DvbCard{9, 0, "cedar"});
    ASSERT_TRUE(card.open(nullptr));
    ASSERT_TRUE(card.frontend().commit(universal(11000, card::kPolarisationVertical)));
    EXPECT_EQ(devices.callLog().back(), "tune clear S if=1250000 sr=27500000 fec=9 mod=QPSK rolloff=0.35 go");

    std::vector<uint8_t> block(card::kCommandBlockSize, 0);
    const uint8_t message[] = {0xE0, 0x31, 0x6E, 0x00};
    std::memcpy(block.data(), message, sizeof message);
    block[card::kDiseqcLengthOffset] = sizeof message;
    block[card::kDiseqcFlagOffset1] = 1;
    block[card::kDiseqcFlagOffset2] = 1;
    ASSERT_TRUE(card.command(block.data(), block.size()));
    EXPECT_EQ(devices.callLog().back(), "diseqc e0 31 6e 00");
    block[card::kDiseqcLengthOffset] = 7;
    EXPECT_FALSE(card.command(block.data(), block.size())) << "longer than a Linux DiSEqC message";

    std::vector<uint8_t> power(card::kCommandBlockSize, 0);
    ASSERT_TRUE(card.command(power.data(), power.size()));
    EXPECT_EQ(devices.callLog().back(), "voltage off");
    EXPECT_FALSE(card.command(power.data(), 100));
    EXPECT_EQ(card.macAddress()[0], 0x02);
}

TEST_F(DvbFrontendTest, AMultistreamFrontendGetsTheStreamAndPlsAndLocksOnlyThatStream)
{
    devices.model.variant.multistream = true;
    frontend.close();
    ASSERT_TRUE(frontend.open(nullptr));
    const uint32_t gold = 131070;
    Transponder first = transponder(11778, true, SYS_DVBS2, PSK_8);
    first.isi = 3;
    Transponder scrambled = first;
    scrambled.isi = 7;
    scrambled.plsGold = gold;
    devices.model.transponders = {first, scrambled};
    SatelliteParams t = universal(11778, card::kPolarisationHorizontal, card::kModulationDvbS2);
    const std::string tune = "tune clear S2 if=1178000 sr=27500000 fec=9 mod=8PSK rolloff=auto pilot=auto ";

    t.streamId = 7;
    t.plsMode = pls::Gold;
    t.plsCode = static_cast<int32_t>(gold);
    EXPECT_EQ(commit(t).back(), tune + "stream=0x7 gold=131070 go") << "the PLS never in DTV_STREAM_ID's upper bits";
    EXPECT_EQ(locked(), 1);
    EXPECT_TRUE(eventually([&] {
        return debug.all().find("locked with DVB-S2 8PSK on 11778 MHz H 27500 kS/s ISI 7 PLS gold 131070")
            != std::string::npos;
    })) << debug.all();
    t.plsMode = pls::Root;
    t.plsCode = static_cast<int32_t>(pls::rootOfGold(gold));
    EXPECT_EQ(commit(t).back(), tune + "stream=0x7 gold=131070 go") << "a root code goes as its gold code";
    EXPECT_EQ(locked(), 1);
    t.plsMode = pls::Gold;
    t.plsCode = 0;
    EXPECT_EQ(commit(t).back(), tune + "stream=0x7 gold=0 go");
    EXPECT_EQ(locked(), -1) << "a scrambled stream does not lock without its code";
    t.streamId = 3;
    commit(t);
    EXPECT_EQ(locked(), 0);
    t.streamId = -1;
    EXPECT_EQ(commit(t).back(), tune + "stream=none go") << "a tuning without a stream clears the filter";
    EXPECT_EQ(locked(), 0) << "without a filter the demodulator takes the carrier's first stream";
    t.streamId = 7;
    t.plsCode = static_cast<int32_t>(gold);
    t.basebandFrames = 1;
    // The frames the model delivers, by input stream.
    const auto frames = [&] { return devices.withModel([](demodmodel::DemodModel& m) { return m.basebandStreams(); }); };
    EXPECT_EQ(commit(t).back(), tune + "stream=0x80000007 gold=131070 go");
    EXPECT_EQ(frames(), std::vector<int>{7}) << "of the stream the ISI names";
    t.streamId = -1;
    EXPECT_EQ(commit(t).back(), tune + "stream=0x80000000 gold=131070 go") << "baseband frames of every stream";
    EXPECT_EQ(frames(), std::vector<int>{7}) << "of every stream its PLS code descrambles";
    t.plsCode = 0;
    commit(t);
    EXPECT_EQ(frames(), std::vector<int>{3});
    t.basebandFrames = 0;
    commit(t);
    EXPECT_TRUE(frames().empty()) << "a transport stream again";
    t.plsCode = static_cast<int32_t>(gold);

    // An older kernel refuses DTV_SCRAMBLING_SEQUENCE_INDEX; its drivers read the PLS in DTV_STREAM_ID.
    devices.model.variant.plsInStreamId = true;
    t.streamId = 7;
    t.basebandFrames = 0;
    debug.clear();
    for (int i = 0; i < 2; ++i) {
        const auto calls = commit(t);
        EXPECT_EQ(calls.back(), tune + "stream=0x5fffe07 go");
        EXPECT_EQ(locked(), 1);
    }
    EXPECT_EQ(count(debug.all(), "refuses DTV_SCRAMBLING_SEQUENCE_INDEX"), 1u) << debug.all();
}

TEST_F(DvbFrontendTest, AFrontendWithoutMultistreamTunesWithoutTheStreamAndSaysSoOnce)
{
    Transponder first = transponder(11778, true, SYS_DVBS2, PSK_8);
    first.isi = 3;
    Transponder second = first;
    second.isi = 7;
    devices.model.transponders = {first, second};
    SatelliteParams t = universal(11778, card::kPolarisationHorizontal, card::kModulationDvbS2);
    t.streamId = 7;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(commit(t).back(), "tune clear S2 if=1178000 sr=27500000 fec=9 mod=8PSK rolloff=auto pilot=auto go");
    EXPECT_EQ(locked(), 0);
    EXPECT_EQ(count(debug.all(), "the frontend cannot select a stream (no FE_CAN_MULTISTREAM): ISI 7 is not sent"), 1u)
        << debug.all();
    t.modulation = card::kModulationQpsk;
    EXPECT_EQ(commit(t).back(), "tune clear S if=1178000 sr=27500000 fec=9 mod=QPSK rolloff=0.35 go");
}
