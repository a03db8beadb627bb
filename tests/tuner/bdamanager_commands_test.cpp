// CBDAManager's property work against recording fakes: tuning, extension commands, signal queries.
#include "tuner/bdamanager.h"

#include "fake_ks.h"
#include "platform/ks/card_extension.h"
#include "tuner/command_blocks.h"
#include "tuner/device_catalogue.h"
#include "tuner_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace tunertest;
using platform::DebugCapture;

namespace {

std::vector<BYTE> word(uint32_t v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        input = ComPtr<FakePropertySet>(new FakePropertySet);
        output = ComPtr<FakePropertySet>(new FakePropertySet);
        control = ComPtr<FakeDeviceControl>(new FakeDeviceControl);
        manager.m_pTunerInputPropSet = input;
        manager.m_pTunerOutputPropSet = output;
        manager.m_pIBDADevCtrl = control;
        manager.m_modelId = tuner::kModelCedar;
    }
    BoxCapture boxes;
    ComPtr<FakePropertySet> input, output;
    ComPtr<FakeDeviceControl> control;
    CBDAManager manager;
};

SatelliteParams sampleTuning()
{
    SatelliteParams p;
    p.carrierFrequency = 11778000;
    p.polarisation = 2;
    p.lnbLowOscillator = 9750000;
    p.lnbHighOscillator = 10600000;
    p.lnbSwitchFrequency = 11700000;
    p.spectralInversion = 4;
    p.symbolRate = 27500;
    p.innerFecRate = 3;
    p.modulation = 21;
    return p;
}

TEST_F(ManagerTest, NewTuningWritesEveryPropertyInOrderThenCommits)
{
    DebugCapture debug;
    const SatelliteParams p = sampleTuning();
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);

    struct Expected { FakePropertySet* pin; GUID set; DWORD id; uint32_t value; };
    const Expected expected[] = {
        {input.get(), KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, 11778000},
        {input.get(), KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_POLARITY, 2},
        {input.get(), KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_LOW_BAND, 9750000},
        {input.get(), KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_HIGH_BAND, 10600000},
        {input.get(), KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY, 11700000},
        {output.get(), KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE, 27500},
        {output.get(), KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_INNER_FEC_RATE, 3},
        {output.get(), KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_MODULATION_TYPE, 21},
        {output.get(), KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SPECTRAL_INVERSION, 4},
    };
    std::vector<KsCall> inSets = input->callsOf(KsCall::Set), outSets = output->callsOf(KsCall::Set);
    ASSERT_EQ(inSets.size(), 5u);
    ASSERT_EQ(outSets.size(), 4u);
    size_t i = 0, o = 0;
    for (const Expected& e : expected) {
        const KsCall& call = e.pin == input.get() ? inSets[i++] : outSets[o++];
        EXPECT_EQ(call.set, e.set);
        EXPECT_EQ(call.id, e.id);
        EXPECT_EQ(call.instance, std::vector<BYTE>(24, 0));
        EXPECT_EQ(call.data, word(e.value));
    }
    EXPECT_EQ(control->commits, 1);
    EXPECT_EQ(control->starts, 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(std::memcmp(manager.satelliteParams(), &p, sizeof(p)), 0);

    const std::vector<std::string> lines = {
        "CBDAManager: CBDAFilterGraph::SetNewSatParams\n",
        "CBDAManager: new Carrier Frequency\n", "CBDAManager: CBDAFilterGraph::SetCarrierFrequency\n",
        "CBDAManager: new Polarisation value\n", "CBDAManager: CBDAFilterGraph::SetPolarisation\n",
        "CBDAManager: new LNB Low Osc. frequency\n", "CBDAManager: CBDAFilterGraph::SetLNBLowOscFrequency\n",
        "CBDAManager: new LNB High Osc. frequency\n", "CBDAManager: CBDAFilterGraph::SetLNBHighOscFrequency\n",
        "CBDAManager: new LNB Switch frequency\n", "CBDAManager: CBDAFilterGraph::SetLNBSwitchFrequency\n",
        "CBDAManager: new Symbol Rate value\n", "CBDAManager::SetSymbolRate\n",
        "CBDAManager: new Code Rate value\n", "CBDAManager: CBDAFilterGraph::SetInnerFECRate\n",
        "CBDAManager: new Modulation type\n", "CBDAManager: CBDAFilterGraph::SetModulationType\n",
        "CBDAManager: new Spectral Inversion type\n", "CBDAManager: CBDAFilterGraph::SetSpectralInversion\n"};
    EXPECT_EQ(debug.texts(), lines);
}

TEST_F(ManagerTest, AStreamTuningAlsoWritesTheStreamSetAndACardWithoutItOnlySaysSo)
{
    SatelliteParams p = sampleTuning();
    p.streamId = 3;
    p.plsMode = 0;
    p.plsCode = 1024;
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    const std::vector<KsCall> sets = output->callsOf(KsCall::Set);
    ASSERT_EQ(sets.size(), 8u);
    const uint32_t values[] = {3, 0, 1024, 0};
    for (DWORD id = 0; id < 4; ++id) {
        EXPECT_EQ(sets[3 + id].set, KSPROPSETID_CardStream);
        EXPECT_EQ(sets[3 + id].id, id);
        EXPECT_EQ(sets[3 + id].data, word(values[id]));
    }
    EXPECT_EQ(sets[7].id, KSPROPERTY_BDA_SPECTRAL_INVERSION) << "the spectral inversion stays last";
    EXPECT_EQ(std::memcmp(manager.satelliteParams(), &p, sizeof(p)), 0);

    for (DWORD id = 0; id < 4; ++id)
        output->on(KSPROPSETID_CardStream, id).support = 0;
    DebugCapture debug;
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    EXPECT_TRUE(boxes.boxes.empty()) << "no box for a card without the stream set";
    EXPECT_NE(debug.all().find("KSPROPERTY_CARD_STREAM_ID SET not supported!\n"), std::string::npos) << debug.all();
    EXPECT_EQ(control->commits, 2);
}

TEST_F(ManagerTest, RejectedModulationDoesNotStopTheRest)
{
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_MODULATION_TYPE).support = KSPROPERTY_SUPPORT_GET;
    const SatelliteParams p = sampleTuning();
    EXPECT_EQ(manager.SetNewSatParams(&p), 1);
    const std::vector<KsCall> sets = output->callsOf(KsCall::Set);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].id, KSPROPERTY_BDA_SYMBOL_RATE);
    EXPECT_EQ(sets[1].id, KSPROPERTY_BDA_INNER_FEC_RATE);
    EXPECT_EQ(sets[2].id, KSPROPERTY_BDA_SPECTRAL_INVERSION);
    EXPECT_EQ(control->commits, 1);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"KSPROPERTY_BDA_MODULATION_TYPE, SET not supported\n"});
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(boxes.boxes[0].owner, boxes.activeWindow) << "owned by the active window";
    EXPECT_EQ(manager.satelliteParams()->modulation, 20); // the old value stays

    input->on(KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY).query = E_PROP_SET_UNSUPPORTED;
    EXPECT_EQ(manager.SetLNBSwitchFrequency(11700000), 0);
    EXPECT_EQ(boxes.texts().back(), "QuerySupported failed\n");
}

TEST_F(ManagerTest, CommitDecidesTheResult)
{
    const SatelliteParams p = sampleTuning();
    control->commitResult = E_FAIL;
    EXPECT_EQ(manager.SetNewSatParams(&p), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"IBDA_DeviceControl::CommitChanges failed!\n"});
    EXPECT_EQ(manager.satelliteParams()->carrierFrequency, 11778000u);

    // A good commit after a failed last write still answers that write's 0.
    control->commitResult = S_OK;
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SPECTRAL_INVERSION).set = E_FAIL;
    EXPECT_EQ(manager.SetNewSatParams(&p), 0);
    EXPECT_EQ(boxes.texts().back(), "KSPROPERTY_BDA_SPECTRAL_INVERSION, SET failed\n");
}

TEST_F(ManagerTest, FecAndSymbolRateReportOnlyInDebugLines)
{
    DebugCapture debug;
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_INNER_FEC_RATE).query = E_PROP_ID_UNSUPPORTED;
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE).support = 0;
    EXPECT_EQ(manager.SetInnerFECRate(3), 0);
    EXPECT_EQ(manager.SetSymbolRate(27500), 0);
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE).support = KSPROPERTY_SUPPORT_SET;
    output->on(KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE).set = E_FAIL;
    EXPECT_EQ(manager.SetSymbolRate(27500), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(debug.texts(), (std::vector<std::string>{
                                 "CBDAManager: CBDAFilterGraph::SetInnerFECRate\n",
                                 "KSPROPERTY_BDA_INNER_FEC_RATE QuerySupported failed!\n",
                                 "CBDAManager::SetSymbolRate\n", "KSPROPERTY_BDA_SYMBOL_RATE, SET not supported\n",
                                 "CBDAManager::SetSymbolRate\n", "KSPROPERTY_BDA_SYMBOL_RATE Set failed!\n"}));

    // Without the output pin's interface they are silent; the others show a box.
    manager.m_pTunerOutputPropSet.reset();
    debug.clear();
    EXPECT_EQ(manager.SetInnerFECRate(3), 0);
    EXPECT_EQ(manager.SetModulationType(20), 0);
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"IKsPropertySet pointer error\n"});
    EXPECT_EQ(debug.texts().size(), 2u);
}

TEST_F(ManagerTest, MissingDeviceControlIsAnAssertionNotACrash)
{
    DebugCapture debug;
    manager.m_pIBDADevCtrl.reset();
    const SatelliteParams p = sampleTuning();
    EXPECT_EQ(manager.SetNewSatParams(&p), 0);
    EXPECT_EQ(manager.SetNewSatParams(nullptr), 0);
    EXPECT_TRUE(input->calls.empty());
    EXPECT_EQ(debug.texts(), (std::vector<std::string>{
                                 "CBDAManager: CBDAFilterGraph::SetNewSatParams\n",
                                 "Assertion failed: m_pIBDADevCtrl, file bdamanager, line 1387\n",
                                 "CBDAManager: CBDAFilterGraph::SetNewSatParams\n",
                                 "Assertion failed: pNewSatParams, file bdamanager, line 1385\n"}));
}

TEST_F(ManagerTest, CommandBlocksGoOutAsGetWithTheBlockTwice)
{
    const BYTE message[] = {0xE0, 0x10, 0x38, 0xF3};
    EXPECT_EQ(manager.SendDiSEqC(message, 4), 1);
    EXPECT_EQ(manager.Power(1), 1);
    const std::vector<KsCall> gets = input->callsOf(KsCall::Get);
    ASSERT_EQ(gets.size(), 2u);

    std::vector<BYTE> diseqc(188, 0);
    std::copy(message, message + 4, diseqc.begin());
    diseqc[151] = 4;
    diseqc[164] = 1;
    diseqc[172] = 1;
    EXPECT_EQ(gets[0].set, KSPROPSETID_CardCommand);
    EXPECT_EQ(gets[0].id, 0u);
    EXPECT_EQ(gets[0].instance, diseqc);
    EXPECT_EQ(gets[0].data, diseqc);

    std::vector<BYTE> power(188, 0);
    power[184] = 1;
    EXPECT_EQ(gets[1].instance, power);
    EXPECT_EQ(gets[1].data, power);
    EXPECT_EQ(tuner::powerBlock(false), tuner::CommandBlock{});
}

TEST_F(ManagerTest, CommandFailuresAreDebugLinesOnly)
{
    DebugCapture debug;
    input->on(KSPROPSETID_CardCommand, 0).support = 0; // the mask is not looked at
    input->on(KSPROPSETID_CardCommand, 0).get = E_FAIL;
    const BYTE reset[] = {0xE0, 0x00, 0x00};
    EXPECT_EQ(manager.SendDiSEqC(reset, 3), 0);
    input->on(KSPROPSETID_CardCommand, 0).query = E_PROP_SET_UNSUPPORTED;
    EXPECT_EQ(manager.Power(0), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(debug.texts(), (std::vector<std::string>{
                                 "CBDAManager::SendDiSEqC()\n", "CBDAManager::SendDiSEqC() - Get failed\n",
                                 "CBDAManager::Power()\n", "CBDAManager::Power() - QuerySupported failed\n"}));
}

TEST_F(ManagerTest, MacAddressOnMapleComesFromTheTunerOutput)
{
    manager.m_modelId = tuner::kModelMaple;
    std::vector<BYTE> reply(28, 0);
    const BYTE address[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(address, address + 6, reply.begin() + 12);
    output->on(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_READ).reply = reply;

    BYTE mac[6] = {};
    EXPECT_EQ(manager.ReadMACAddress(mac), 1);
    EXPECT_EQ(std::vector<BYTE>(mac, mac + 6), std::vector<BYTE>(address, address + 6));

    const std::vector<KsCall>& calls = output->calls;
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, KsCall::Query);
    EXPECT_EQ(calls[1].kind, KsCall::Set);
    EXPECT_EQ(calls[1].id, 0u);
    EXPECT_EQ(calls[1].instance, word(1));
    EXPECT_EQ(calls[1].data, word(1));
    EXPECT_EQ(calls[2].kind, KsCall::Get);
    EXPECT_EQ(calls[2].id, 3u);
    std::vector<BYTE> block(28, 0);
    block[0] = 0x01; block[1] = 0xA0; block[2] = 0x01; block[3] = 0x10; block[11] = 0x06;
    EXPECT_EQ(calls[2].instance, block);
    EXPECT_EQ(calls[2].data, block);
    EXPECT_EQ(calls[3].kind, KsCall::Set);
    EXPECT_EQ(calls[3].data, word(0));
}

TEST_F(ManagerTest, FailedMacReadLeavesTheBufferAlone)
{
    DebugCapture debug;
    ComPtr<FakePropertyFilter> capture(new FakePropertyFilter);
    capture->on(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_READ).get = E_FAIL;
    manager.m_pCapturePropSet = capture;
    BYTE mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(manager.ReadMACAddress(mac), 0);
    EXPECT_EQ(std::vector<BYTE>(mac, mac + 6), (std::vector<BYTE>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(capture->callsOf(KsCall::Set).size(), 1u); // access stays on
    EXPECT_EQ(debug.texts().back(), "CBDAManager::ReadMACAddress() - Get failed\n");
    EXPECT_TRUE(output->calls.empty());
}

TEST_F(ManagerTest, InfraredProbeByModel)
{
    // Maple: through the tuner output pin.
    manager.m_modelId = tuner::kModelMaple;
    EXPECT_TRUE(manager.GetIRCtrlInterface());
    output->on(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND).query = E_PROP_SET_UNSUPPORTED;
    EXPECT_FALSE(manager.GetIRCtrlInterface());
    manager.m_pTunerOutputPropSet.reset();
    EXPECT_FALSE(manager.GetIRCtrlInterface());
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{"IKsPropertySet pointer error\n"});

    // The others: through the video capture filter, which also serves the MAC reads.
    boxes.boxes.clear();
    manager.m_modelId = tuner::kModelBirch;
    EXPECT_FALSE(manager.GetIRCtrlInterface());
    ComPtr<FakePropertyFilter> capture(new FakePropertyFilter);
    manager.m_pVideoCapture = ComPtr<IBaseFilter>(capture.get());
    EXPECT_TRUE(manager.GetIRCtrlInterface());
    EXPECT_EQ(manager.m_pCapturePropSet.get(), static_cast<IKsPropertySet*>(capture.get()));
    capture->on(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND).query = E_FAIL;
    EXPECT_FALSE(manager.GetIRCtrlInterface());
    EXPECT_FALSE(manager.m_pCapturePropSet);
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"CaptureDevice QueryInterface Failed",
                                                       "PROPSETID_VIDCAP_CUSTOM_IRCAPTURE QuerySupported failed\n"}));
}

TEST_F(ManagerTest, SignalQueries)
{
    DebugCapture debug;
    input->on(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH).support = KSPROPERTY_SUPPORT_SET;
    output->on(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_QUALITY).value = 87;
    output->on(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_LOCKED).get = E_FAIL;
    LONG strength = -5, quality = 0, locked = 7;
    EXPECT_EQ(manager.GetSignalStrength(&strength), 0);
    EXPECT_EQ(strength, -5);
    EXPECT_EQ(manager.GetSignalQuality(&quality), 1);
    EXPECT_EQ(quality, 87);
    EXPECT_EQ(manager.GetDemodLocked(&locked), 0);
    EXPECT_EQ(locked, 7);
    const KsCall get = output->callsOf(KsCall::Get)[0];
    EXPECT_EQ(get.instance, std::vector<BYTE>(24, 0));
    EXPECT_EQ(get.data.size(), 4u);
    EXPECT_EQ(debug.texts(), (std::vector<std::string>{
                                 "CBDAManager: CBDAFilterGraph::GetSignalStrength\n",
                                 "KSPROPERTY_BDA_SIGNAL_STRENGTH, Get not supported !\n",
                                 "CBDAManager::GetSignalQuality\n", "CBDAManager::GetDemodLocked\n",
                                 "KSPROPERTY_BDA_SIGNAL_LOCKED, GET failed !\n"}));

    CBDAManager unbuilt;
    EXPECT_EQ(unbuilt.GetDemodLocked(&locked), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

// Drivers answer with odd sizes: only the manager's own buffers are ever read.
TEST_F(ManagerTest, OddReplySizesAreHarmless)
{
    auto& quality = output->on(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_QUALITY);
    quality.reply = {0x2A}; // one byte written of four
    quality.claimed = 1;
    auto& locked = output->on(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_LOCKED);
    locked.value = 1;
    locked.claimed = 0x7FFFFFFF; // more than was asked for
    LONG value = -1;
    EXPECT_EQ(manager.GetSignalQuality(&value), 1);
    EXPECT_EQ(value, 0x2A);
    EXPECT_EQ(manager.GetDemodLocked(&value), 1);
    EXPECT_EQ(value, 1);

    manager.m_modelId = tuner::kModelMaple;
    auto& mac = output->on(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_READ);
    mac.reply = {1, 2, 3}; // the address bytes of the block are left as they were sent
    mac.claimed = 100000;
    BYTE address[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(manager.ReadMACAddress(address), 1);
    EXPECT_EQ(std::vector<BYTE>(address, address + 6), std::vector<BYTE>(6, 0));
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
