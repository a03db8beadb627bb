// The simulated card's filters as the receiver meets them: found by name, tuned through
// the manager, locking, answering the extension sets, and streaming while locked.
#include "drivers/simcard/sim_register.h"

#include "drivers/tsgen/bbframe.h"
#include "drivers/tsgen/bbframe_ts.h"
#include "drivers/tsgen/mpe_stream.h"

#include "platform/media/devenum.h"
#include "tests/drivers/capture_rig.h"
#include "tests/platform/media/test_filters.h"
#include "tuner/bdamanager.h"
#include "tuner/device_catalogue.h"
#include "tuner/find_filter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

ComPtr<IBaseFilter> find(REFGUID category, const char* name)
{
    return ComPtr<IBaseFilter>::adopt(FindFilter(category, tuner::widen(name).c_str()));
}

SatelliteParams receivable()
{
    SatelliteParams p;
    p.carrierFrequency = 11778000; // IF 1178 MHz on the high band
    p.symbolRate = 27500;
    return p;
}

class SimCardTest : public ::testing::Test {
protected:
    void TearDown() override { simcard::unregisterSimCards(); }

    // The manager holding the card's tuner (and video capture) as BuildGraph would leave it.
    std::shared_ptr<simcard::SimCard> attach(int32_t id, const std::wstring& in = L"Input0",
                                             const std::wstring& out = L"MPEG2 Transport")
    {
        simcard::SimConfig config;
        config.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        auto card = simcard::registerSimCard(id, config, in, out);
        const tuner::DeviceModel* model = tuner::findModel(id);
        manager.m_modelId = id;
        manager.m_pTunerDevice = find(KSCATEGORY_BDA_NETWORK_TUNER, model->tunerName);
        if (model->videoCaptureName)
            manager.m_pVideoCapture = find(KSCATEGORY_CAPTURE, model->videoCaptureName);
        return card;
    }
    CBDAManager manager;
};

TEST_F(SimCardTest, TunedThroughTheManagerItLocks)
{
    auto card = attach(tuner::kModelCedar);
    ASSERT_TRUE(manager.m_pTunerDevice);
    ASSERT_TRUE(manager.GetDeviceControl());
    ASSERT_TRUE(manager.GetTunerDemodPins());
    ASSERT_TRUE(manager.GetIRCtrlInterface());

    const SatelliteParams p = receivable();
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    LONG locked = 0, strength = 0, quality = 0;
    EXPECT_EQ(manager.GetDemodLocked(&locked), 1);
    EXPECT_NE(locked, 0);
    EXPECT_EQ(manager.GetSignalStrength(&strength), 1);
    EXPECT_EQ(manager.GetSignalQuality(&quality), 1);
    EXPECT_GT(strength, 50);
    EXPECT_LE(quality, 100);
    EXPECT_EQ(card->frontend.committed().carrierFrequency, 11778000u);
    EXPECT_EQ(card->frontend.committed().symbolRate, 27500u);

    // A property written alone changes its own field, and only at the commit.
    EXPECT_EQ(manager.SetSymbolRate(30000), 1);
    EXPECT_EQ(card->frontend.committed().symbolRate, 27500u) << "applied before the commit";
    ASSERT_EQ(manager.m_pIBDADevCtrl->CommitChanges(), S_OK);
    EXPECT_EQ(card->frontend.committed().symbolRate, 30000u);
    EXPECT_EQ(card->frontend.committed().carrierFrequency, 11778000u);
    EXPECT_EQ(card->frontend.committed().modulation, p.modulation);

    // Supply off: no lock, no level.
    EXPECT_EQ(manager.Power(0), 1);
    EXPECT_EQ(manager.GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 0);
    EXPECT_EQ(manager.GetSignalStrength(&strength), 1);
    EXPECT_EQ(strength, 0);
    manager.Power(1);

    // An intermediate frequency outside the tuner's window does not lock.
    SatelliteParams off = p;
    off.carrierFrequency = 10500000;
    manager.SetNewSatParams(&off);
    manager.GetDemodLocked(&locked);
    EXPECT_EQ(locked, 0);
}

TEST_F(SimCardTest, MacAddressThroughTheVideoCaptureFilter)
{
    attach(tuner::kModelBirch);
    ASSERT_TRUE(manager.GetTunerDemodPins());
    ASSERT_TRUE(manager.GetIRCtrlInterface());
    BYTE mac[6] = {};
    EXPECT_EQ(manager.ReadMACAddress(mac), 1);
    EXPECT_EQ(std::vector<BYTE>(mac, mac + 6), (std::vector<BYTE>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

TEST_F(SimCardTest, MapleServesMacAndInfraredOnTheTunerOutput)
{
    attach(tuner::kModelMaple);
    EXPECT_FALSE(manager.m_pVideoCapture);
    ASSERT_TRUE(manager.GetTunerDemodPins());
    EXPECT_TRUE(manager.GetIRCtrlInterface());
    BYTE mac[6] = {};
    EXPECT_EQ(manager.ReadMACAddress(mac), 1);
    EXPECT_EQ(mac[0], 0x02);
    EXPECT_EQ(mac[5], 0x55);
}

using cardtest::CaptureRig;

void tune(simcard::SimCard& card)
{
    SatelliteParams tuning;
    tuning.carrierFrequency = 11778000;
    tuning.symbolRate = 27500;
    card.frontend.commit(tuning);
}

TEST_F(SimCardTest, CaptureStreamsOnlyWhileRunningAndLocked)
{
    simcard::SimConfig config;
    config.rateKbps = 0;
    auto card = simcard::registerSimCard(tuner::kModelLarch, config);
    CaptureRig rig(L"Kest Larch AVStream TS Capture");
    ASSERT_TRUE(rig.ready);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(rig.sink->input()->samples.load(), 0); // not tuned yet

    tune(*card);
    ASSERT_TRUE(card->frontend.locked());
    for (int i = 0; i < 200 && rig.sink->input()->samples.load() < 8; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rig.capture->Stop();
    EXPECT_GE(rig.sink->input()->samples.load(), 8);
    std::lock_guard<std::mutex> lock(rig.sink->input()->mutex);
    const std::vector<BYTE>& bytes = rig.sink->input()->bytes;
    ASSERT_GT(bytes.size(), 188u * 8);
    for (size_t k = 0; k + 188 <= bytes.size(); k += 188)
        ASSERT_EQ(bytes[k], 0x47) << "at " << k;
}

// Also as input stream 7 of a multistream recording, whose stream 3 (the built-in traffic,
// its file missing) would never end.
TEST_F(SimCardTest, FilePlayedOnceEndsTheStream)
{
    for (const bool multistream : {false, true}) {
        SCOPED_TRACE(multistream ? "stream 7 of a multistream recording" : "single stream");
        simcard::SimConfig config;
        config.rateKbps = 0;
        config.loop = false;
        const std::string path = KEST_TEST_DATA "/mpe-udp-pid1001.ts";
        if (multistream)
            config.streams = {{3, "/nonexistent/isi3.ts"}, {7, path}};
        else
            config.streamFile = path;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        std::vector<BYTE> expected;
        for (int c; (c = std::fgetc(file)) != EOF;)
            expected.push_back(static_cast<BYTE>(c));
        std::fclose(file);

        auto card = simcard::registerSimCard(tuner::kModelMaple, config);
        SatelliteParams stream7 = receivable();
        stream7.streamId = 7;
        if (multistream)
            ASSERT_TRUE(card->commit(stream7));
        else
            tune(*card);
        CaptureRig rig(L"Kest Maple DVBS Capture");
        ASSERT_TRUE(rig.ready);
        for (int i = 0; i < 300 && rig.sink->input()->endOfStreams.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(rig.sink->input()->endOfStreams.load(), 1);
        {
            std::lock_guard<std::mutex> lock(rig.sink->input()->mutex);
            // First a sample of null packets (the demodulator's stuffing), then the file whole.
            const std::vector<BYTE>& got = rig.sink->input()->bytes;
            ASSERT_GE(got.size(), expected.size());
            const size_t stuffing = got.size() - expected.size();
            EXPECT_EQ(stuffing % 188, 0u);
            EXPECT_GT(stuffing, 0u);
            for (size_t at = 0; at < stuffing; at += 188)
                EXPECT_TRUE(got[at] == 0x47 && got[at + 1] == 0x1F && got[at + 2] == 0xFF) << at;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin() + static_cast<long>(stuffing)));
        }
        rig.capture->Stop();
        simcard::unregisterSimCards();
    }
}

// The tuning's "Baseband frames" choice is offered for a recording of the cards' pseudo
// transport stream, alone or as one stream of a multistream recording, and only then.
TEST_F(SimCardTest, OffersBasebandFramesWhenItPlaysThem)
{
    // A PAT ahead of the first frame, as a recording of the whole multiplex has; PID 0x0118.
    std::vector<uint8_t> pseudo;
    uint8_t continuity = 0;
    tsgen::writePat(pseudo, continuity);
    const std::vector<uint8_t> field(2000, 0);
    const auto frame = tsgen::makeBbFrame(field.data(), field.size(), tsgen::kNormalFrameRate1_2);
    tsgen::BbFrameTsWriter(tsgen::kBbFramePidOther).writeFrame(frame.data(), frame.size(), pseudo);
    const std::string frames = ::testing::TempDir() + "sim-bbframes.ts";
    std::FILE* file = std::fopen(frames.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(pseudo.data(), 1, pseudo.size(), file), pseudo.size());
    std::fclose(file);
    const std::string plain = KEST_TEST_DATA "/mpe-udp-pid1001.ts";

    struct Case {
        const char* name;
        std::string file;
        std::vector<simcard::SimStream> streams;
        bool offered;
    };
    for (const Case& c : {Case{"pseudo transport stream", frames, {}, true},
                          Case{"plain transport stream", plain, {}, false},
                          Case{"built-in traffic", "", {}, false},
                          Case{"one stream of a multistream recording", "", {{3, plain}, {7, frames}}, true}}) {
        SCOPED_TRACE(c.name);
        simcard::SimConfig config;
        config.streamFile = c.file;
        config.streams = c.streams;
        auto card = simcard::registerSimCard(tuner::kModelCedar, config);
        EXPECT_EQ(card->deliversBasebandFrames(), c.offered);
        CBDAManager bda;
        bda.m_modelId = tuner::kModelCedar;
        bda.m_pTunerDevice = find(KSCATEGORY_BDA_NETWORK_TUNER, tuner::findModel(tuner::kModelCedar)->tunerName);
        ASSERT_TRUE(bda.GetTunerDemodPins());
        EXPECT_EQ(bda.SupportsBasebandFrames(), c.offered) << "the property the panel asks for";
        simcard::unregisterSimCards();
    }
    std::remove(frames.c_str());
}

TEST_F(SimCardTest, EnvironmentChoosesTheCards)
{
    setenv("KEST_CARD", "sim:maple,none,sim", 1);
    std::string error;
    EXPECT_TRUE(simcard::installFromEnvironment(&error)) << error;
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelMaple);
    simcard::unregisterSimCards();

    setenv("KEST_CARD", "sim", 1);
    EXPECT_TRUE(simcard::installFromEnvironment(&error));
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelCedar);
    simcard::unregisterSimCards();

    setenv("KEST_CARD", "sim:oak,sim:birch", 1);
    EXPECT_FALSE(simcard::installFromEnvironment(&error));
    EXPECT_EQ(error, "KEST_CARD: unknown model \"oak\"\n");
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelBirch);
    simcard::unregisterSimCards();

    setenv("KEST_CARD", "none", 1);
    EXPECT_TRUE(simcard::installFromEnvironment(&error));
    EXPECT_EQ(tuner::probeInstalledModel(), 0);
    unsetenv("KEST_CARD");
}

} // namespace
