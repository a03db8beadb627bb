// The whole graph around a simulated card: build order, names and failure texts, run
// control, teardown, and the window's start and stop operations.
#include "tuner/bdamanager.h"

#include "decoder/decoder.h"
#include "decoder/ts_input_filter.h"
#include "drivers/simcard/sim_register.h"
#include "graph_stand_ins.h"
#include "platform/win32/sync.h"
#include "tests/platform/media/test_filters.h"
#include "tuner/card_control.h"
#include "tuner/device_catalogue.h"
#include "tuner/input_filter.h"
#include "tuner_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace tunertest;

namespace {

SatelliteParams receivable()
{
    SatelliteParams p;
    p.carrierFrequency = 11778000;
    p.symbolRate = 27500;
    return p;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override { config.rateKbps = 0; }
    void TearDown() override
    {
        tuner::setInputFilterHooks({});
        simcard::unregisterSimCards();
    }
    // A stand-in sink in place of TSInputFilter, counting what it is given.
    ComPtr<mediatest::SinkFilter> useStandInSink()
    {
        ComPtr<mediatest::SinkFilter> sink(new mediatest::SinkFilter);
        tuner::setInputFilterHooks({[sink](HRESULT* hr) {
                                        *hr = S_OK;
                                        return ComPtr<IBaseFilter>(sink.get()).detach();
                                    },
                                    [](IBaseFilter*, bool) {}});
        return sink;
    }
    ComPtr<IBaseFilter> inGraph(CBDAManager& manager, const wchar_t* name)
    {
        ComPtr<IBaseFilter> filter;
        manager.m_pGraphBuilder->FindFilterByName(name, filter.put());
        return filter;
    }

    TransportInformationDevice transportInformation;
    BoxCapture boxes;
    simcard::SimConfig config;
};

TEST_F(GraphTest, BuildsTheCardsGraphAndDeliversWhileLocked)
{
    auto card = simcard::registerSimCard(tuner::kModelCedar, config);
    auto sink = useStandInSink();
    CBDAManager manager;
    platform::DebugCapture debug;
    ASSERT_EQ(manager.BuildGraph(tuner::kModelCedar), S_OK);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts()[0];
    EXPECT_EQ(debug.texts().front(), "CBDAManager::BuildGraph\n");
    for (const std::string& line : debug.texts())
        EXPECT_NE(line.rfind("CBDAManager::ConnectPins()", 0), 0u) << line; // every pair connected
    EXPECT_TRUE(manager.m_fGraphBuilt);
    EXPECT_FALSE(manager.m_fGraphFailure);
    for (const wchar_t* name : {L"Network DVBS Provider", L"Kest Cedar DVBS Tuner", L"Kest Cedar DVBS Capture",
                                L"Infinite pin tee splitter", L"MPEG2 Demultiplexer", L"Transport information filter",
                                L"TSInputFilter"})
        EXPECT_TRUE(inGraph(manager, name)) << name;
    EXPECT_TRUE(manager.m_pVideoCapture);
    EXPECT_NE(manager.m_dwGraphRegister, 0u);
    EXPECT_TRUE(sink->input()->isConnected());

    const SatelliteParams p = receivable();
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    EXPECT_EQ(manager.RunGraph(), S_OK);
    LONG locked = 0;
    EXPECT_EQ(manager.GetDemodLocked(&locked), 1);
    EXPECT_EQ(locked, 1);
    for (int i = 0; i < 300 && sink->input()->samples.load() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(manager.StopGraph(), S_OK);
    EXPECT_FALSE(manager.m_fGraphRunning);
    std::lock_guard<std::mutex> lock(sink->input()->mutex);
    ASSERT_GE(sink->input()->bytes.size(), 188u * 4);
    EXPECT_EQ(sink->input()->bytes[0], 0x47);
    EXPECT_EQ(sink->input()->bytes[188], 0x47);
}

TEST_F(GraphTest, RunAndStopOnlyActWhenTheyHaveTo)
{
    simcard::registerSimCard(tuner::kModelMaple, config);
    CBDAManager manager;
    ASSERT_EQ(manager.BuildGraph(tuner::kModelMaple), S_OK);
    EXPECT_FALSE(manager.m_pVideoCapture);
    platform::DebugCapture debug;
    EXPECT_EQ(manager.StopGraph(), S_OK);
    EXPECT_EQ(debug.texts(), std::vector<std::string>{"CBDAManager::StopGraph\n"});
    ASSERT_EQ(manager.RunGraph(), S_OK);
    debug.clear();
    EXPECT_EQ(manager.RunGraph(), S_OK);
    EXPECT_TRUE(debug.texts().empty());

    // Building again while running stops and takes the old graph down first.
    ASSERT_EQ(manager.BuildGraph(tuner::kModelMaple), S_OK);
    const std::vector<std::string> lines = debug.texts();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              (std::vector<std::string>{"CBDAManager::BuildGraph\n", "CBDAManager::StopGraph\n",
                                        "CBDAManager::StopGraph - Pause\n", "CBDAManager::StopGraph - Stop\n",
                                        "CBDAManager::TearDownGraph\n", "CBDAManager::TearDownGraph completed\n"}));
    EXPECT_FALSE(manager.m_fGraphRunning);
    EXPECT_TRUE(manager.m_fGraphBuilt);
}

TEST_F(GraphTest, FailuresNameWhatIsMissingAndLeaveNoFilters)
{
    CBDAManager manager;
    EXPECT_EQ(manager.BuildGraph(7), E_FAIL);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Cannot found Kest devices\n"});
    EXPECT_TRUE(manager.m_fGraphFailure);
    EXPECT_FALSE(manager.m_fGraphBuilt);
    EXPECT_FALSE(manager.m_pNetworkProvider);

    boxes.boxes.clear();
    EXPECT_EQ(manager.BuildGraph(tuner::kModelCedar), E_FAIL);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Cannot load Kest Cedar DVBS Tuner\n"});
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(manager.m_pGraphBuilder->EnumFilters(filters.put()), S_OK);
    ComPtr<IBaseFilter> any;
    EXPECT_NE(filters->Next(1, any.put(), nullptr), S_OK);
}

TEST_F(GraphTest, MissingVideoCaptureOrSinkFailsTheBuild)
{
    // A card whose video capture filter is missing from the enumerator.
    simcard::registerSimCard(tuner::kModelMaple, config);
    platform::media::DeviceId tuner = platform::media::registerFilterDevice(
        KSCATEGORY_BDA_NETWORK_TUNER, L"Kest Birch BDA Tuner/Demod",
        [](REFIID riid, void** object) { return platform::createObject<StandInFilter>(riid, object,
                                             std::vector<const wchar_t*>{L"Input0"},
                                             std::vector<const wchar_t*>{L"MPEG2 Transport"}); });
    platform::media::DeviceId capture = platform::media::registerFilterDevice(
        KSCATEGORY_BDA_RECEIVER_COMPONENT, L"Kest Birch AVStream TS Capture",
        [](REFIID riid, void** object) { return platform::createObject<StandInFilter>(riid, object,
                                             std::vector<const wchar_t*>{L"In"}, std::vector<const wchar_t*>{L"Out"}); });
    CBDAManager manager;
    EXPECT_EQ(manager.BuildGraph(tuner::kModelBirch), E_FAIL);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Cannot load Kest Birch Video Capture\n"});
    platform::media::unregisterFilterDevice(tuner);
    platform::media::unregisterFilterDevice(capture);

    boxes.boxes.clear();
    tuner::setInputFilterHooks({[](HRESULT* hr) -> IBaseFilter* {
                                    *hr = E_OUTOFMEMORY;
                                    return nullptr;
                                },
                                nullptr});
    EXPECT_EQ(manager.BuildGraph(tuner::kModelMaple), E_OUTOFMEMORY);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Cannot create TSInputFilter\n"});
}

TEST_F(GraphTest, FailingInfraredProbeFailsAConnectedGraph)
{
    // Alder has no path to the infrared set at all.
    simcard::registerSimCard(tuner::kModelAlder, config);
    CBDAManager manager;
    platform::DebugCapture debug;
    EXPECT_EQ(manager.BuildGraph(tuner::kModelAlder), E_FAIL);
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"CaptureDevice QueryInterface Failed",
                                                       "Getting IR control interface failed\n"}));
    EXPECT_TRUE(contains(debug.texts(), "CBDAManager::BuildGraphError\n"));
    EXPECT_FALSE(contains(debug.texts(), "CBDAManager::ConnectPins() - No output pin found on filter\r\n"));
    EXPECT_EQ(manager.m_dwGraphRegister, 0u);
    EXPECT_FALSE(manager.m_pTunerDevice);
}

TEST_F(GraphTest, CyrillicPinNamesBuild)
{
    simcard::registerSimCard(tuner::kModelSpruce, config, L"Antenna In Pin",
                             L"MPEG2 \u0442\u0440\u0430\u043D\u0441\u043F\u043E\u0440\u0442");
    CBDAManager manager;
    EXPECT_EQ(manager.BuildGraph(tuner::kModelSpruce), S_OK);
    EXPECT_TRUE(boxes.boxes.empty());
}

std::atomic<int> g_packets{0};
void countPacket(const uint8_t* packet) { g_packets += packet[0] == 0x47 ? 1 : 0; }

TEST_F(GraphTest, WindowOperationsAroundTheRealSink)
{
    auto card = simcard::registerSimCard(tuner::kModelCedar, config);
    std::vector<DWORD> sleeps;
    auto previousSleep = platform::setSleepHandler([&sleeps](DWORD ms) { sleeps.push_back(ms); });
    {
        tuner::CardControl control;
        ASSERT_TRUE(control.detectDevice());
        EXPECT_EQ(control.modelId(), tuner::kModelCedar);
        EXPECT_STREQ(control.windowTitle(), "Kest Ip Data 1.04 @ Kest Cedar DVB-S2");
        EXPECT_TRUE(control.modulationAndFecEnabled());
        ASSERT_TRUE(control.startGraph());
        EXPECT_EQ(decoderState().packetCallback.load(), &processPacket);
        EXPECT_TRUE(control.bdaManager()->m_fGraphRunning);

        control.lastSwitchPort = 3;
        control.resetDiSEqC();
        EXPECT_EQ(control.lastSwitchPort, 0);
        EXPECT_EQ(sleeps, std::vector<DWORD>{50});
        EXPECT_EQ(card->frontend.diseqcMessages().back(), (std::vector<uint8_t>{0xE0, 0x00, 0x00}));

        // A tuning as the panel does it, with our own counter as the packet handler.
        CBDAManager* manager = control.bdaManager();
        decoderState().packetCallback.store(countPacket);
        manager->StopGraph();
        const SatelliteParams p = receivable();
        manager->SetNewSatParams(&p);
        manager->RunGraph();
        tuner::setInputFilterDelivery(manager->m_pTSInputFilter.get(), true);
        for (int i = 0; i < 300 && g_packets.load() < 1000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GE(g_packets.load(), 1000);

        auto* input = dynamic_cast<TSInputFilter*>(manager->m_pTSInputFilter.get());
        ASSERT_NE(input, nullptr);
        EXPECT_TRUE(input->deliveryEnabled());
        EXPECT_TRUE(control.stopGraph());
        EXPECT_FALSE(input->deliveryEnabled());
        EXPECT_EQ(decoderState().packetCallback.load(), nullptr);
        EXPECT_FALSE(card->frontend.lnbPowered());
        EXPECT_FALSE(card->frontend.locked());
        EXPECT_TRUE(manager->m_fGraphRunning); // left running until the manager goes

        platform::DebugCapture debug;
        control.destroyManager();
        const std::vector<std::string> lines = debug.texts();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "CBDAManager::~CBDAManager()\n");
        EXPECT_TRUE(contains(lines, "CBDAManager::StopGraph - Stop\n"));
        EXPECT_EQ(lines.back(), "CBDAManager::TearDownGraph completed\n");
    }
    platform::setSleepHandler(previousSleep);
    EXPECT_TRUE(boxes.boxes.empty());

    simcard::unregisterSimCards();
    tuner::CardControl none;
    EXPECT_FALSE(none.detectDevice());
}

} // namespace
