// Tuner control and the decoder together on the simulated card, as the main window drives them:
// detection, the graph, tuning, the PIDs; what reaches the adapter is compared frame for frame.
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "drivers/satnic/satnic.h"
#include "drivers/simcard/sim_register.h"
#include "tests/support/known_stream.h"
#include "tuner/card_control.h"
#include "tuner/device_catalogue.h"
#include "tuner/input_filter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const tsgen::MacAddress kStation{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

SatelliteParams receivable()
{
    SatelliteParams p;
    p.carrierFrequency = 11778000; // IF 2028 MHz on the low band
    p.polarisation = 2;
    p.symbolRate = 27500;
    return p;
}

// Waits until `done` holds, for at most `seconds` (generous: the sanitizer builds are slow).
template <class Done>
bool waitFor(Done done, int seconds = 60)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class SimReceive : public ::testing::Test {
protected:
    void SetUp() override
    {
        pcap_ = testing::TempDir() + "sim_receive_" + std::to_string(::getpid()) + ".pcap";
        setenv("KEST_CARD", "sim:cedar", 1);
        setenv("KEST_SIM_MAC", "02:11:22:33:44:55", 1);
        setenv("KEST_SIM_RATE", "0", 1);
        setenv("KEST_SATNIC", ("pcap:" + pcap_).c_str(), 1);
    }
    void TearDown() override
    {
        card_.destroyManager();
        DecoderState& state = decoderState();
        closeAdapter(state.adapterHandle);
        state.adapterHandle = nullptr;
        {
            DecoderChange change;
            clearSlots();
            freePidTables();
        }
        satnic::uninstall();
        simcard::unregisterSimCards();
        for (const char* name : {"KEST_CARD", "KEST_SIM_MAC", "KEST_SIM_RATE", "KEST_SIM_TS", "KEST_SIM_LOOP",
                                 "KEST_SATNIC"})
            unsetenv(name);
        std::remove(pcap_.c_str());
        std::remove(stream_.c_str());
    }

    // Brings the receiver up as the main window does, PIDs selected; the simulated cards
    // come from the environment unless the test registered its own.
    void bringUp(const std::vector<uint16_t>& pids, bool cardsFromEnvironment = true)
    {
        std::string error;
        if (cardsFromEnvironment)
            ASSERT_TRUE(simcard::installFromEnvironment(&error)) << error;
        ASSERT_TRUE(satnic::installFromEnvironment(&error)) << error;
        ASSERT_TRUE(allocatePidTables());
        {
            DecoderChange change;
            clearSlots();
        }
        ASSERT_TRUE(card_.detectDevice());
        ASSERT_EQ(card_.modelId(), tuner::kModelCedar);
        ASSERT_TRUE(card_.startGraph());
        CBDAManager* manager = card_.bdaManager();
        DecoderState& state = decoderState();
        state.adapterHandle = openAdapter();
        ASSERT_NE(state.adapterHandle, nullptr);
        BYTE mac[6] = {};
        ASSERT_EQ(manager->ReadMACAddress(mac), 1);
        ASSERT_EQ(std::vector<BYTE>(mac, mac + 6), std::vector<BYTE>(kStation.begin(), kStation.end()));
        {
            DecoderChange change;
            std::copy(mac, mac + 6, state.macFilter);
            for (uint16_t pid : pids)
                assignSlot(pid);
        }
        setAdapterAddress(state.adapterHandle, mac);
        tuner::setInputFilterDelivery(manager->m_pTSInputFilter.get(), true);
    }

    void playOnce(const teststream::KnownStream& stream)
    {
        stream_ = testing::TempDir() + "sim_receive_" + std::to_string(::getpid()) + ".ts";
        ASSERT_TRUE(teststream::writeFile(stream_, stream.transportStream));
        setenv("KEST_SIM_TS", stream_.c_str(), 1);
        setenv("KEST_SIM_LOOP", "0", 1);
    }

    tuner::CardControl card_;
    std::string pcap_, stream_;
};

TEST_F(SimReceive, KnownDatagramsReachTheAdapterExactlyOnce)
{
    const teststream::KnownStream stream = teststream::makeKnownStream(kStation, 1500);
    ASSERT_GT(stream.otherDatagrams, 0u);
    playOnce(stream);
    bringUp(stream.selectedPids);
    CBDAManager* manager = card_.bdaManager();
    const SatelliteParams tuning = receivable();
    ASSERT_EQ(manager->SetNewSatParams(&tuning), 1);
    LONG locked = 0, strength = 0, quality = 0;
    EXPECT_EQ(manager->GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(manager->GetSignalStrength(&strength), 1);
    EXPECT_GT(strength, 0);
    EXPECT_EQ(manager->GetSignalQuality(&quality), 1);
    EXPECT_GT(quality, 0);

    // Until every packet of the file has passed the demultiplexer: nothing
    // more can follow then.
    const uint64_t expected = stream.expectedFrames.size();
    const uint64_t packets = stream.transportStream.size() / 188;
    const auto packetsSeen = [] {
        uint64_t n = 0;
        for (int pid = 0; pid < kPidCount; ++pid)
            n += counterValue(decoderState().pidPackets[pid]);
        return n;
    };
    const bool all = waitFor([&] { return packetsSeen() >= packets && satnic::statistics().frames >= expected; });
    EXPECT_TRUE(all) << satnic::statistics().frames << " of " << expected << " frames, " << packetsSeen() << " of "
                     << packets << " packets";
    const DecoderState& state = decoderState();
    EXPECT_EQ(counterValue(state.rxErrors), 0u);
    EXPECT_GT(counterValue(state.pidPackets[0x103]), 0u) << "the unselected PID was in the stream";
    EXPECT_EQ(counterValue(state.pidSelectedPackets[0x103]), 0u);

    EXPECT_TRUE(card_.stopGraph());
    card_.destroyManager();
    satnic::uninstall(); // closes the capture file
    std::vector<teststream::Frame> frames;
    std::string why;
    ASSERT_TRUE(teststream::readPcapFrames(pcap_, &frames, &why)) << why;
    EXPECT_EQ(teststream::differences(stream.expectedFrames, frames), "");
}

TEST_F(SimReceive, StoppingWhileTheBuiltInTrafficFlowsEndsCleanly)
{
    bringUp({0x100, 0x101, 0x102});
    CBDAManager* manager = card_.bdaManager();
    const SatelliteParams tuning = receivable();
    ASSERT_EQ(manager->SetNewSatParams(&tuning), 1);
    ASSERT_TRUE(waitFor([] { return satnic::statistics().frames >= 50; }));
    // Slot changes and counter resets while packets flow, then a retune and the stop.
    for (int round = 0; round < 20; ++round) {
        DecoderChange change;
        releaseSlot(0x101);
        assignSlot(0x101);
        resetErrorCounters();
    }
    ASSERT_EQ(manager->SetNewSatParams(&tuning), 1);
    EXPECT_TRUE(card_.stopGraph());
    LONG locked = 1;
    EXPECT_EQ(manager->GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 0) << "stopGraph switches the LNB supply off";
    card_.destroyManager(); // stops the graph and joins the streaming thread
    EXPECT_EQ(counterValue(decoderState().rxErrors), 0u);
}

// A card pulled out while it streams: every request fails from then on and the stream ends;
// nothing crashes, the receiver reads "not locked" and shuts down as usual.
TEST_F(SimReceive, ACardThatVanishesMidRunIsSurvived)
{
    simcard::SimConfig config;
    config.rateKbps = 0;
    config.mac = kStation;
    const std::shared_ptr<simcard::SimCard> card = simcard::registerSimCard(tuner::kModelCedar, config);
    bringUp({0x100, 0x101, 0x102}, false);
    CBDAManager* manager = card_.bdaManager();
    const SatelliteParams tuning = receivable();
    ASSERT_EQ(manager->SetNewSatParams(&tuning), 1);
    ASSERT_TRUE(waitFor([] { return satnic::statistics().frames >= 20; }));

    card->present = false;
    const uint64_t before = satnic::statistics().frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(satnic::statistics().frames, before + 64) << "the stream ended with the card";
    LONG locked = 1, strength = 7;
    EXPECT_EQ(manager->GetDemodLocked(&locked), 0);
    EXPECT_EQ(manager->GetSignalStrength(&strength), 0);
    EXPECT_EQ(strength, 7) << "a failed read leaves the value alone";
    EXPECT_EQ(manager->SetNewSatParams(&tuning), 0) << "nothing can be committed";
    BYTE mac[6] = {};
    EXPECT_EQ(manager->ReadMACAddress(mac), 0);
    EXPECT_EQ(manager->Power(1), 0);
    EXPECT_TRUE(card_.stopGraph());
    card_.destroyManager();
}

} // namespace
