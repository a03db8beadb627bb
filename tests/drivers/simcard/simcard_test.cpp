// The simulated card: its configuration, tuner model and the stream it delivers.
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "drivers/satnic/satnic.h"
#include "drivers/simcard/sim_config.h"
#include "drivers/simcard/sim_frontend.h"
#include "drivers/simcard/traffic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

using namespace simcard;

namespace {

struct EnvGuard {
    explicit EnvGuard(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& v : values) {
            names.push_back(v.first);
            setenv(v.first, v.second, 1);
        }
    }
    ~EnvGuard()
    {
        for (const char* name : names)
            unsetenv(name);
    }
    std::vector<const char*> names;
};

std::vector<uint8_t> powerBlock(bool on)
{
    std::vector<uint8_t> block(card::kCommandBlockSize, 0);
    block[card::kPowerOffset] = on ? 1 : 0;
    return block;
}

} // namespace

TEST(SimConfig, DefaultsAndEnvironment)
{
    SimConfig config;
    std::string error;
    ASSERT_TRUE(simConfigFromEnvironment(config, &error)) << error;
    EXPECT_TRUE(config.streamFile.empty());
    EXPECT_TRUE(config.loop);
    EXPECT_EQ(config.rateKbps, 4000u);
    EXPECT_EQ(config.mac, kDefaultMac);
    EXPECT_EQ(config.mac[0] & 0x03, 0x02) << "locally administered unicast";

    EnvGuard env{{"KEST_SIM_TS", "/x.ts"}, {"KEST_SIM_LOOP", "0"}, {"KEST_SIM_RATE", "0"},
                 {"KEST_SIM_MAC", "02:aA:bb:CC:dd:0e"}};
    ASSERT_TRUE(simConfigFromEnvironment(config, &error)) << error;
    EXPECT_EQ(config.streamFile, "/x.ts");
    EXPECT_FALSE(config.loop);
    EXPECT_EQ(config.rateKbps, 0u);
    EXPECT_EQ(config.mac, (MacAddress{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x0E}));
}

TEST(SimConfig, MalformedValuesAreNamedAndKeepTheirDefaults)
{
    EnvGuard env{{"KEST_SIM_LOOP", "yes"}, {"KEST_SIM_RATE", "-5"}, {"KEST_SIM_MAC", "02:11:22:33:44"}};
    SimConfig config;
    std::string error;
    EXPECT_FALSE(simConfigFromEnvironment(config, &error));
    EXPECT_NE(error.find("KEST_SIM_LOOP=yes"), std::string::npos) << error;
    EXPECT_NE(error.find("KEST_SIM_RATE=-5"), std::string::npos) << error;
    EXPECT_NE(error.find("KEST_SIM_MAC=02:11:22:33:44"), std::string::npos) << error;
    EXPECT_TRUE(config.loop);
    EXPECT_EQ(config.rateKbps, 4000u);
    EXPECT_EQ(config.mac, kDefaultMac);
    MacAddress mac{};
    for (const char* bad : {"", "02-11-22-33-44-55", "02:11:22:33:44:5g", "02:11:22:33:44:555"})
        EXPECT_FALSE(parseMac(bad, mac)) << bad;
}

TEST(SimConfig, AMultistreamRecordingNamesAFilePerInputStream)
{
    {
        EnvGuard env{{"KEST_SIM_TS", "isi3=/a.ts;isi255=/b;c.ts"}};
        SimConfig config;
        std::string error;
        EXPECT_FALSE(simConfigFromEnvironment(config, &error)) << "\"c.ts\" is no entry";
        EXPECT_NE(error.find("KEST_SIM_TS="), std::string::npos) << error;
        EXPECT_TRUE(config.streams.empty() && config.streamFile.empty());
    }
    EnvGuard env{{"KEST_SIM_TS", "isi3=/a.ts;isi7=/b.ts"}};
    SimConfig config;
    std::string error;
    ASSERT_TRUE(simConfigFromEnvironment(config, &error)) << error;
    ASSERT_EQ(config.streams.size(), 2u);
    EXPECT_EQ(config.streams[1].isi, 7);
    EXPECT_EQ(config.streams[1].file, "/b.ts");
    EXPECT_TRUE(config.streamFile.empty());

    SimFrontend frontend;
    frontend.setStreams({3, 7});
    SatelliteParams t;
    EXPECT_TRUE(frontend.commit(t));
    EXPECT_EQ(frontend.selectedStream(), 0) << "no ISI: the first stream";
    t.streamId = 7;
    EXPECT_TRUE(frontend.commit(t));
    EXPECT_EQ(frontend.selectedStream(), 1);
    t.streamId = 5;
    EXPECT_FALSE(frontend.commit(t)) << "an ISI the carrier lacks locks nothing";
}

TEST(SimFrontend, LocksOnAPlausibleTuningWithTheSupplyOn)
{
    SimFrontend frontend;
    EXPECT_FALSE(frontend.locked()) << "nothing committed yet";
    EXPECT_TRUE(frontend.commit(SatelliteParams{}));
    EXPECT_GE(frontend.strength(), 50);
    EXPECT_LE(frontend.strength(), 100);
    EXPECT_GE(frontend.quality(), 50);
    EXPECT_LE(frontend.quality(), 100);

    const auto off = powerBlock(false);
    ASSERT_TRUE(frontend.command(off.data(), off.size()));
    EXPECT_FALSE(frontend.locked());
    EXPECT_EQ(frontend.strength(), 0);
    EXPECT_EQ(frontend.quality(), 0);
    const auto on = powerBlock(true);
    ASSERT_TRUE(frontend.command(on.data(), on.size()));
    EXPECT_TRUE(frontend.locked());

    SatelliteParams bad;
    bad.symbolRate = 50000;
    EXPECT_FALSE(frontend.commit(bad));
    EXPECT_GT(frontend.strength(), 0) << "noise with the supply on";
    EXPECT_LT(frontend.strength(), 50);
    EXPECT_EQ(frontend.quality(), 0);
}

TEST(SimFrontend, KeepsDiseqcMessagesAndRefusesGarbage)
{
    SimFrontend frontend;
    std::vector<uint8_t> block(card::kCommandBlockSize, 0);
    const uint8_t message[] = {0xE0, 0x10, 0x38, 0xF3};
    std::memcpy(block.data(), message, sizeof message);
    block[card::kDiseqcLengthOffset] = sizeof message;
    block[card::kDiseqcFlagOffset1] = 1;
    block[card::kDiseqcFlagOffset2] = 1;
    ASSERT_TRUE(frontend.command(block.data(), block.size()));
    ASSERT_EQ(frontend.diseqcMessages().size(), 1u);
    EXPECT_EQ(frontend.diseqcMessages()[0], std::vector<uint8_t>(message, message + sizeof message));
    EXPECT_FALSE(frontend.command(block.data(), 100));
    std::vector<uint8_t> junk(188, 0xFF);
    EXPECT_FALSE(frontend.command(junk.data(), junk.size()));
    EXPECT_TRUE(frontend.lnbPowered()) << "garbage must not switch the supply";
}

class SimTraffic : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(satnic::install("null", &error)) << error;
        ASSERT_TRUE(allocatePidTables());
        clearSlots();
        resetErrorCounters();
        DecoderState& s = decoderState();
        s.adapterHandle = openAdapter();
        ASSERT_NE(s.adapterHandle, nullptr);
    }
    void TearDown() override
    {
        DecoderState& s = decoderState();
        closeAdapter(s.adapterHandle);
        s.adapterHandle = nullptr;
        clearSlots();
        freePidTables();
        satnic::uninstall();
    }
    void decode(TrafficSource& source, size_t total, const MacAddress& station)
    {
        std::memcpy(decoderState().macFilter, station.data(), 6);
        PacketAligner aligner(processPacket);
        SamplePlan plan(65424);
        std::vector<uint8_t> sample(65424);
        for (size_t done = 0; done < total;) {
            const size_t n = source.read(sample.data(), plan.next());
            if (n == 0)
                break;
            aligner.alignPackets(sample.data(), static_cast<long>(n));
            done += n;
        }
    }
};

TEST_F(SimTraffic, BuiltInTrafficDecodesWithoutErrorsForTheCardsAddress)
{
    const MacAddress mac{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    for (int pid : {0x100, 0x101, 0x102, 0x103})
        assignSlot(pid);
    TrafficSource source(mac);
    decode(source, 4u << 20, mac);
    const DecoderState& s = decoderState();
    EXPECT_EQ(counterValue(s.rxErrors), 0u);
    const uint64_t frames = satnic::statistics().frames;
    // Three of every four datagrams are for this receiver (own, multicast, broadcast).
    ASSERT_GT(source.datagramsGenerated(), 1000u);
    EXPECT_NEAR(static_cast<double>(frames), source.datagramsGenerated() * 0.75, 8.0);
    EXPECT_GT(counterValue(s.pidPackets[0]), 0u) << "PAT";
    EXPECT_GT(counterValue(s.pidPackets[0x1FFF]), 0u) << "null packets";
}

TEST_F(SimTraffic, FileIsPlayedOnceOrLooped)
{
    const std::string path = ::testing::TempDir() + "/simcard-file.ts";
    std::vector<uint8_t> stream(188 * 10);
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = i % 188 == 0 ? 0x47 : static_cast<uint8_t>(i);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), stream.size());

    TrafficSource once(kDefaultMac);
    ASSERT_TRUE(once.openFile(path, false, nullptr));
    std::vector<uint8_t> out(5000);
    EXPECT_EQ(once.read(out.data(), out.size()), stream.size());
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + stream.size()), stream);
    EXPECT_EQ(once.read(out.data(), out.size()), 0u);

    TrafficSource looped(kDefaultMac);
    ASSERT_TRUE(looped.openFile(path, true, nullptr));
    ASSERT_EQ(looped.read(out.data(), out.size()), out.size());
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], stream[i % stream.size()]) << i;

    std::string error;
    TrafficSource missing(kDefaultMac);
    EXPECT_FALSE(missing.openFile("/nonexistent/x.ts", true, &error));
    EXPECT_NE(error.find("/nonexistent/x.ts"), std::string::npos);
    std::remove(path.c_str());
}

TEST_F(SimTraffic, DirectoryOrEmptyFileIsRefusedNamingIt)
{
    const std::string empty = ::testing::TempDir() + "/simcard-empty.ts";
    std::ofstream(empty, std::ios::binary).close();
    const std::string directory = ::testing::TempDir();
    for (const auto& [path, why] : {std::pair{empty, "empty"}, std::pair{directory, "directory"}}) {
        std::string error;
        TrafficSource source(kDefaultMac);
        EXPECT_FALSE(source.openFile(path, true, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        uint8_t out[188];
        EXPECT_EQ(source.read(out, sizeof out), sizeof out) << "the built-in traffic goes on";
    }
    std::remove(empty.c_str());
}

TEST(SimSamples, SizesVaryWithinBoundsAndAreNotAllWholePackets)
{
    SamplePlan plan(65424);
    std::set<size_t> sizes;
    bool odd = false, small = false;
    for (int i = 0; i < 2000; ++i) {
        const size_t n = plan.next();
        ASSERT_GE(n, 1u);
        ASSERT_LE(n, 65424u);
        sizes.insert(n);
        odd |= n % 188 != 0;
        small |= n < 376;
    }
    EXPECT_GT(sizes.size(), 100u);
    EXPECT_TRUE(odd);
    EXPECT_TRUE(small);
}

TEST(SimPacer, SpreadsTheDataOverTheRate)
{
    Pacer unpaced(0);
    EXPECT_EQ(unpaced.delayBefore(1 << 20).count(), 0);
    Pacer pacer(8); // 1000 bytes per second
    EXPECT_EQ(pacer.delayBefore(1000).count() > 0, false) << "the first bytes go at once";
    const auto wait = pacer.delayBefore(1000);
    EXPECT_GT(wait, std::chrono::milliseconds(900));
    EXPECT_LE(wait, std::chrono::milliseconds(1000));
}
