// The Linux DVB driver against fake device nodes: ioctl sequences and values
// for the LNB kinds, DiSEqC, the supply, statistics, and the stream.
#include "drivers/linuxdvb/dvb_card.h"
#include "drivers/linuxdvb/dvb_config.h"
#include "drivers/linuxdvb/dvb_frontend.h"
#include "drivers/linuxdvb/dvb_stream.h"
#include "tests/drivers/linuxdvb/fake_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace linuxdvb;
using linuxdvbtest::FakeDevices;

namespace {

card::Tuning universal(uint32_t carrierMhz, int32_t polarisation, int32_t modulation = 20)
{
    card::Tuning t;
    t.carrierKhz = carrierMhz * 1000;
    t.polarisation = polarisation;
    t.symbolRateKsps = 27500;
    t.modulation = modulation;
    return t;
}

std::vector<std::string> after(const std::vector<std::string>& calls, size_t from)
{
    return std::vector<std::string>(calls.begin() + static_cast<long>(from), calls.end());
}

class DvbFrontendTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(frontend.open(nullptr)); }
    std::vector<std::string> commit(const card::Tuning& t)
    {
        const size_t from = devices.calls.size();
        EXPECT_TRUE(frontend.commit(t));
        return after(devices.calls, from);
    }
    FakeDevices devices;
    DvbFrontend frontend{devices, 9, 0};
};

} // namespace

TEST_F(DvbFrontendTest, UniversalLnbBandsAndPolarisations)
{
    EXPECT_EQ(frontend.name(), "Fake DVB-S2 frontend");
    EXPECT_EQ(commit(universal(11000, card::kPolarisationVertical)),
              (std::vector<std::string>{"voltage 13", "tone off",
                                        "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    EXPECT_EQ(commit(universal(12188, card::kPolarisationHorizontal, 21)),
              (std::vector<std::string>{"voltage 18", "tone off", "tone on",
                                        "tune clear S2 if=1588000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    card::Tuning undefined = universal(11700, card::kPolarisationHorizontal, 0);
    undefined.innerFec = 3;
    EXPECT_EQ(commit(undefined).back(), "tune clear S if=1100000 sr=27500000 fec=3 rolloff=auto pilot=auto go")
        << "the switch frequency itself is high band; modulation 0 is DVB-S";
}

TEST_F(DvbFrontendTest, CBandAndSingleOscillatorLnbsNeverUseTheTone)
{
    card::Tuning c = universal(3800, card::kPolarisationHorizontal);
    c.lofLowKhz = 5150000;
    c.lofHighKhz = 5150000;
    c.switchKhz = 0;
    EXPECT_EQ(commit(c), (std::vector<std::string>{"voltage 18", "tone off",
                                                   "tune clear S if=1350000 sr=27500000 fec=9 rolloff=auto pilot=auto go"}));
    card::Tuning single = universal(11900, card::kPolarisationVertical);
    single.lofLowKhz = 10750000;
    single.lofHighKhz = 0;
    single.switchKhz = 0;
    EXPECT_EQ(commit(single).back(), "tune clear S if=1150000 sr=27500000 fec=9 rolloff=auto pilot=auto go");
}

TEST_F(DvbFrontendTest, DvbS2FallsBackToDvbSWhenRefused)
{
    devices.refuseDvbS2 = true;
    const auto calls = commit(universal(11000, card::kPolarisationVertical, 21));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2], "tune clear S2 refused");
    EXPECT_EQ(calls[3], "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go");
}

TEST_F(DvbFrontendTest, DiseqcGoesOutAtOnceWithTheToneOffAndOnlyInLinuxLengths)
{
    commit(universal(12188, card::kPolarisationHorizontal)); // tone on now
    const size_t from = devices.calls.size();
    const uint8_t switchPort[] = {0xE0, 0x10, 0x38, 0xF3};
    const uint8_t gotoX[] = {0xE0, 0x31, 0x6B, 0x05};
    ASSERT_TRUE(frontend.sendDiseqc(switchPort, sizeof switchPort));
    ASSERT_TRUE(frontend.sendDiseqc(gotoX, sizeof gotoX));
    EXPECT_EQ(after(devices.calls, from),
              (std::vector<std::string>{"tone off", "diseqc e0 10 38 f3", "diseqc e0 31 6b 05"}));
    const uint8_t longMessage[7] = {0xE0, 0x10, 0x38, 0xF3, 0, 0, 0};
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 7));
    EXPECT_FALSE(frontend.sendDiseqc(longMessage, 2));
    EXPECT_EQ(devices.calls.size(), from + 3);
    // The next tuning sets the tone again for its band.
    const auto calls = commit(universal(12188, card::kPolarisationHorizontal));
    EXPECT_EQ(calls[2], "tone on");
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
}

TEST_F(DvbFrontendTest, SupplyOffAndBackToThePolarisationsVoltage)
{
    commit(universal(11000, card::kPolarisationVertical));
    const size_t from = devices.calls.size();
    ASSERT_TRUE(frontend.setLnbPower(false));
    EXPECT_FALSE(frontend.lnbPowered());
    ASSERT_TRUE(frontend.setLnbPower(true));
    EXPECT_EQ(after(devices.calls, from), (std::vector<std::string>{"voltage off", "voltage 13"}));
    frontend.setLnbPower(false);
    EXPECT_EQ(commit(universal(11000, card::kPolarisationHorizontal))[0], "voltage off")
        << "a tuning does not switch the supply back on";
}

TEST_F(DvbFrontendTest, StatisticsMapToPercentages)
{
    devices.statScale = FE_SCALE_RELATIVE;
    devices.strengthValue = 65535;
    devices.cnrValue = 32768;
    SignalStatus s = frontend.status();
    EXPECT_TRUE(s.locked);
    EXPECT_EQ(s.strength, 100);
    EXPECT_EQ(s.quality, 50);

    devices.statScale = FE_SCALE_DECIBEL;
    devices.strengthValue = -60000; // -60 dBm
    devices.cnrValue = 9000;        // 9 dB
    s = frontend.status();
    EXPECT_EQ(s.strength, 50);
    EXPECT_EQ(s.quality, 60);
    devices.strengthValue = -120000;
    devices.cnrValue = 40000;
    s = frontend.status();
    EXPECT_EQ(s.strength, 0);
    EXPECT_EQ(s.quality, 100);
    // A driver's value beyond any sense saturates; it must not overflow into the other end.
    devices.strengthValue = INT64_MAX;
    devices.cnrValue = INT64_MIN;
    s = frontend.status();
    EXPECT_EQ(s.strength, 100);
    EXPECT_EQ(s.quality, 0);
    devices.statScale = FE_SCALE_RELATIVE;
    devices.strengthValue = -1; // 2^64 - 1 as the unsigned relative value
    s = frontend.status();
    EXPECT_EQ(s.strength, 100);

    devices.v5Stats = false;
    devices.legacyStrength = 0x8000;
    devices.legacySnr = 0xFFFF;
    s = frontend.status();
    EXPECT_EQ(s.strength, 50);
    EXPECT_EQ(s.quality, 100);

    devices.locked = false;
    s = frontend.status();
    EXPECT_FALSE(s.locked);
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
    terrestrial.deliverySystems = {SYS_DVBT, SYS_DVBT2};
    EXPECT_FALSE(findSatelliteAdapter(terrestrial));

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

TEST(DvbCardDeviceTest, CommandBlocksAndTheCollectedTuning)
{
    FakeDevices devices;
    DvbCardDevice card(devices, DvbCard{9, 0, "cedar"});
    ASSERT_TRUE(card.open(nullptr));
    card.setPending(universal(11000, card::kPolarisationVertical));
    EXPECT_EQ(devices.calls.size(), 1u) << "nothing reaches the frontend before the commit";
    ASSERT_TRUE(card.commit());
    EXPECT_EQ(devices.calls.back(), "tune clear S if=1250000 sr=27500000 fec=9 rolloff=auto pilot=auto go");

    std::vector<uint8_t> block(card::kCommandBlockSize, 0);
    const uint8_t message[] = {0xE0, 0x31, 0x6E, 0x00};
    std::memcpy(block.data(), message, sizeof message);
    block[card::kDiseqcLengthOffset] = sizeof message;
    block[card::kDiseqcFlagOffset1] = 1;
    block[card::kDiseqcFlagOffset2] = 1;
    ASSERT_TRUE(card.command(block.data(), block.size()));
    EXPECT_EQ(devices.calls.back(), "diseqc e0 31 6e 00");
    block[card::kDiseqcLengthOffset] = 7;
    EXPECT_FALSE(card.command(block.data(), block.size())) << "longer than a Linux DiSEqC message";

    std::vector<uint8_t> power(card::kCommandBlockSize, 0);
    ASSERT_TRUE(card.command(power.data(), power.size()));
    EXPECT_EQ(devices.calls.back(), "voltage off");
    EXPECT_FALSE(card.command(power.data(), 100));
    EXPECT_EQ(card.macAddress()[0], 0x02);
}
