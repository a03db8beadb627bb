// A fake adapter presented as a catalogue model: found by detection, tuned through
// the manager down to the frontend's ioctls, and streaming through the capture filter.
#include "drivers/linuxdvb/dvb_filters.h"
#include "drivers/simcard/sim_register.h"
#include "tests/drivers/linuxdvb/fake_devices.h"
#include "tests/drivers/capture_rig.h"
#include "tests/platform/media/test_filters.h"
#include "tuner/bdamanager.h"
#include "tuner/device_catalogue.h"
#include "tuner/find_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>

using linuxdvbtest::FakeDevices;

namespace {

ComPtr<IBaseFilter> find(REFGUID category, const char* name)
{
    return ComPtr<IBaseFilter>::adopt(FindFilter(category, tuner::widen(name).c_str()));
}

class DvbFiltersTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        linuxdvb::unregisterDvbCards();
        simcard::unregisterSimCards();
        linuxdvb::setPidSource(nullptr);
        unsetenv("KEST_CARD");
        unsetenv("KEST_DVB_MAC");
    }
    FakeDevices devices;
};

TEST_F(DvbFiltersTest, EnvironmentPresentsTheAdapterAsTheNamedModel)
{
    setenv("KEST_CARD", "sim:maple,dvb:9:0:larch", 1);
    std::string error;
    ASSERT_TRUE(linuxdvb::installFromEnvironment(&error, devices)) << error;
    EXPECT_TRUE(find(KSCATEGORY_BDA_NETWORK_TUNER, tuner::findModel(tuner::kModelLarch)->tunerName));
    EXPECT_TRUE(find(KSCATEGORY_BDA_RECEIVER_COMPONENT, tuner::findModel(tuner::kModelLarch)->captureName));
    EXPECT_TRUE(find(KSCATEGORY_CAPTURE, tuner::findModel(tuner::kModelLarch)->videoCaptureName));
    EXPECT_FALSE(find(KSCATEGORY_BDA_NETWORK_TUNER, tuner::findModel(tuner::kModelMaple)->tunerName))
        << "the sim entry is the simulated card's";
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelLarch);
    EXPECT_EQ(devices.callLog().front(), "open frontend0") << "the frontend is held open for the run";
    linuxdvb::unregisterDvbCards();
    EXPECT_EQ(devices.callLog().back(), "close frontend0");
    EXPECT_EQ(tuner::probeInstalledModel(), 0);

    unsetenv("KEST_CARD");
    ASSERT_TRUE(linuxdvb::installFromEnvironment(&error, devices)) << error;
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelCedar) << "unset: the first satellite adapter, as Cedar";
    linuxdvb::unregisterDvbCards();

    setenv("KEST_CARD", "dvb:3:cedar,dvb:9:oak,dvb:9:0:birch", 1);
    setenv("KEST_DVB_MAC", "02:11:22", 1);
    EXPECT_FALSE(linuxdvb::installFromEnvironment(&error, devices));
    EXPECT_NE(error.find("KEST_DVB_MAC"), std::string::npos) << error;
    EXPECT_NE(error.find("dvb:3:cedar: cannot open /dev/dvb/adapter3/frontend0"), std::string::npos) << error;
    EXPECT_NE(error.find("malformed entry \"dvb:9:oak\""), std::string::npos) << error;
    EXPECT_EQ(tuner::probeInstalledModel(), tuner::kModelBirch) << "the good entry is installed";
}

// The manager holding the card's tuner and video capture, as BuildGraph leaves it.
class DvbManagerTest : public DvbFiltersTest {
protected:
    void SetUp() override
    {
        setenv("KEST_DVB_MAC", "02:11:22:33:44:55", 1);
        card = linuxdvb::registerDvbCard(devices, {9, 0, "cedar"});
        ASSERT_TRUE(card);
        const tuner::DeviceModel* model = tuner::findModel(tuner::kModelCedar);
        manager.m_modelId = tuner::kModelCedar;
        manager.m_pTunerDevice = find(KSCATEGORY_BDA_NETWORK_TUNER, model->tunerName);
        manager.m_pVideoCapture = find(KSCATEGORY_CAPTURE, model->videoCaptureName);
        ASSERT_TRUE(manager.GetDeviceControl());
        ASSERT_TRUE(manager.GetTunerDemodPins());
        ASSERT_TRUE(manager.GetIRCtrlInterface());
    }
    size_t mark() const { return devices.callLog().size(); }
    // The model's DVB-S transponder on 11778 MHz H, tuned.
    void tuneToATransponder()
    {
        devices.withModel([](demodmodel::DemodModel& m) { m.transponders = {demodmodel::Transponder{}}; });
        SatelliteParams p;
        p.carrierFrequency = 11778000;
        p.polarisation = card::kPolarisationHorizontal;
        p.symbolRate = 27500;
        p.modulation = card::kModulationQpsk;
        ASSERT_EQ(manager.SetNewSatParams(&p), 1);
    }
    std::vector<std::string> since(size_t from) const
    {
        const auto calls = devices.callLog();
        return std::vector<std::string>(calls.begin() + static_cast<long>(from), calls.end());
    }
    std::shared_ptr<linuxdvb::DvbFilterCard> card;
    CBDAManager manager;
};

TEST_F(DvbManagerTest, TuningIsAppliedAtTheCommitInTheHardwaresOrder)
{
    SatelliteParams p;
    p.carrierFrequency = 12188000; // high band, IF 1588 MHz
    p.polarisation = card::kPolarisationVertical;
    p.symbolRate = 27500;
    p.modulation = card::kModulationDvbS2;
    p.innerFecRate = 3;
    demodmodel::Transponder t;
    t.frequencyMhz = 12188;
    t.horizontal = false;
    t.system = SYS_DVBS2;
    t.modulation = PSK_8;
    t.strengthMilliDbm = -30000;
    t.cnrMilliDb = 7500;
    devices.withModel([&](demodmodel::DemodModel& m) { m.transponders = {t}; });
    const size_t from = mark();
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    EXPECT_EQ(since(from),
              (std::vector<std::string>{"voltage 13", "tone off", "tone on",
                                        "tune clear S2 if=1588000 sr=27500000 fec=3 mod=8PSK rolloff=auto pilot=auto go"}))
        << "nothing reaches the frontend before the commit";

    LONG locked = 0, strength = 0, quality = 0;
    EXPECT_EQ(manager.GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 1);
    EXPECT_EQ(manager.GetSignalStrength(&strength), 1);
    EXPECT_EQ(strength, 100);
    EXPECT_EQ(manager.GetSignalQuality(&quality), 1);
    EXPECT_EQ(quality, 50);
}

TEST_F(DvbManagerTest, CommandsReachTheFrontendAndTheMacComesFromTheConfiguration)
{
    const size_t from = mark();
    const BYTE port[] = {0xE0, 0x10, 0x38, 0xF2};
    EXPECT_EQ(manager.SendDiSEqC(port, sizeof port), 1);
    const BYTE tooLong[] = {0xE0, 0x31, 0x6B, 0x05, 0, 0, 0};
    EXPECT_EQ(manager.SendDiSEqC(tooLong, sizeof tooLong), 0) << "longer than Linux carries";
    EXPECT_EQ(manager.Power(0), 1);
    EXPECT_EQ(manager.Power(1), 1);
    EXPECT_EQ(since(from), (std::vector<std::string>{"voltage 18", "tone off", "diseqc e0 10 38 f2", "voltage off",
                                                     "voltage 18"}))
        << "the first message waits for the supply and the tone";

    BYTE mac[6] = {};
    EXPECT_EQ(manager.ReadMACAddress(mac), 1);
    EXPECT_EQ(std::vector<BYTE>(mac, mac + 6), (std::vector<BYTE>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

using cardtest::CaptureRig;

std::vector<uint8_t> packets(size_t count, uint8_t fill)
{
    std::vector<uint8_t> bytes(count * 188, fill);
    for (size_t at = 0; at < bytes.size(); at += 188)
        bytes[at] = 0x47;
    return bytes;
}

TEST_F(DvbManagerTest, CaptureStreamsTheMultiplexAndAVanishedDeviceEndsIt)
{
    const std::vector<uint8_t> first = packets(400, 0x11), second = packets(100, 0x22);
    {
        std::lock_guard<std::recursive_mutex> lock(devices.mutex);
        devices.dvr = {{first}, {{}, EOVERFLOW}, {second}, {{}, ENODEV}};
    }
    tuneToATransponder();
    LONG locked = 0;
    manager.GetDemodLocked(&locked);
    EXPECT_EQ(locked, 1);
    CaptureRig rig(tuner::widen(tuner::findModel(tuner::kModelCedar)->captureName).c_str());
    ASSERT_TRUE(rig.ready);
    ASSERT_TRUE(mediatest::eventually([&] { return rig.sink->input()->endOfStreams.load() == 1; }));
    EXPECT_EQ(rig.received(), first.size() + second.size()) << "the overflow loses only what the kernel dropped";
    EXPECT_EQ(card->device().stream().overflows(), 1u);
    EXPECT_GE(rig.sink->input()->samples.load(), 2);
    {
        std::lock_guard<std::mutex> lock(rig.sink->input()->mutex);
        EXPECT_TRUE(std::equal(first.begin(), first.end(), rig.sink->input()->bytes.begin()));
    }
    const auto calls = devices.callLog();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "buffer 16777216"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "filter 8192 tap start"), calls.end());

    EXPECT_EQ(manager.GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 0) << "a vanished device is unlocked";
    LONG strength = -1;
    manager.GetSignalStrength(&strength);
    EXPECT_EQ(strength, 0);
    rig.capture->Stop();
    rig.sink->input()->endOfStreams = 0;
    EXPECT_EQ(rig.capture->Run(0), S_OK);
    EXPECT_TRUE(mediatest::eventually([&] { return rig.sink->input()->endOfStreams.load() == 1; }))
        << "a run on a device that is gone ends at once";
}

TEST_F(DvbManagerTest, WithoutTheWholeMultiplexTheDecodedPidsAreFiltered)
{
    devices.refuseWholeMultiplex = true;
    std::atomic<uint16_t> wanted{0x100};
    linuxdvb::setPidSource([&wanted](uint16_t* pids, size_t capacity) -> size_t {
        if (capacity == 0)
            return 0;
        pids[0] = wanted.load();
        return 1;
    });
    const size_t from = mark();
    CaptureRig rig(tuner::widen(tuner::findModel(tuner::kModelCedar)->captureName).c_str());
    ASSERT_TRUE(rig.ready);
    auto has = [&](const char* call) {
        const auto calls = since(from);
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    };
    ASSERT_TRUE(mediatest::eventually([&] { return has("filter 256 tap start"); }));
    wanted = 0x101;
    ASSERT_TRUE(mediatest::eventually([&] { return has("filter 257 tap start"); })) << "the choice followed";
    EXPECT_EQ(since(from).back(), "filter 257 tap start");
    EXPECT_EQ(since(from).end()[-3], "close demux0") << "PID 256 is no longer filtered";
}

} // namespace
