// TSInputFilter and TSInputPin: interfaces, the delivery switch, the receive
// steps and their result codes, and the locks.
#include "decoder/receive_lock.h"
#include "decoder/ts_input_filter.h"
#include "test_filters.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

using namespace dt;

namespace {

std::vector<Bytes> g_packets;
void recordPacket(const uint8_t* packet) { g_packets.emplace_back(packet, packet + 188); }
void throwingPacket(const uint8_t* packet)
{
    g_packets.emplace_back(packet, packet + 188);
    throw std::runtime_error("decoder fault");
}

Bytes wholePackets(int count, int firstId = 0)
{
    Bytes s;
    for (int i = 0; i < count; ++i) {
        Bytes p(188, static_cast<uint8_t>(firstId + i));
        p[0] = 0x47;
        s.insert(s.end(), p.begin(), p.end());
    }
    return s;
}

class TSInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_packets.clear();
        sleeps.clear();
        previousSleep = platform::setSleepHandler([this](DWORD ms) { sleeps.push_back(ms); });
        HRESULT hr = E_FAIL;
        filter = ComPtr<TSInputFilter>(new TSInputFilter(nullptr, &hr));
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(source->output()->Connect(filter->inputPin(), nullptr), S_OK);
        ASSERT_EQ(filter->Run(0), S_OK);
        ASSERT_EQ(source->Run(0), S_OK);
        decoderState().packetCallback = recordPacket;
    }
    void TearDown() override
    {
        decoderState().packetCallback = nullptr;
        source->Stop();
        filter->Stop();
        source->output()->Disconnect();
        filter->inputPin()->Disconnect();
        platform::setSleepHandler(previousSleep);
    }
    HRESULT push(const Bytes& bytes) { return source->output()->push(bytes); }
    // Delivery on and the resync sample consumed: the next sample is searched.
    void deliver()
    {
        filter->setDelivery(true);
        ASSERT_EQ(push(wholePackets(1)), S_OK);
        ASSERT_FALSE(filter->resyncPending());
        g_packets.clear();
    }

    ComPtr<mediatest::PushSourceFilter> source{new mediatest::PushSourceFilter};
    ComPtr<TSInputFilter> filter;
    std::vector<DWORD> sleeps;
    platform::SleepHandler previousSleep;
};

} // namespace

TEST_F(TSInputTest, AnswersItsFourInterfacesAndHasOneInputPin)
{
    CLSID clsid{};
    ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(platform::guidToString(clsid), "{29FA55FE-EBDB-4F9C-84FF-B01B25978A83}");
    EXPECT_TRUE(filter.As<IBaseFilter>());
    EXPECT_TRUE(filter.As<IMediaFilter>());
    EXPECT_TRUE(filter.As<IPersist>());
    EXPECT_TRUE(filter.As<IUnknown>());
    EXPECT_FALSE(filter.As<IPin>());
    EXPECT_FALSE(filter.As<IMemInputPin>());
    EXPECT_EQ(filter->pinCount(), 1);
    TSInputPin* pin = filter->inputPin();
    EXPECT_EQ(pin->name(), L"Input");
    EXPECT_EQ(pin->direction(), PINDIR_INPUT);
    EXPECT_EQ(pin->ReceiveCanBlock(), S_FALSE);
    EXPECT_EQ(pin->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(pin->checkMediaType(platform::MediaType(GUID_NULL, GUID_NULL)), S_OK) << "every type is accepted";
}

TEST_F(TSInputTest, ComesUpWithDeliveryOffAndDropsSamplesWithAOneMillisecondSleep)
{
    EXPECT_FALSE(filter->deliveryEnabled());
    EXPECT_EQ(push(wholePackets(4)), S_OK);
    EXPECT_EQ(push(wholePackets(4)), S_OK);
    EXPECT_TRUE(g_packets.empty());
    EXPECT_EQ(sleeps, (std::vector<DWORD>{1, 1}));
}

TEST_F(TSInputTest, FirstSampleAfterDeliveryOnIsDroppedAndTheSecondSearchesAfresh)
{
    ASSERT_EQ(push(wholePackets(4, 0)), S_OK);
    filter->setDelivery(true);
    EXPECT_TRUE(filter->resyncPending());
    ASSERT_EQ(push(wholePackets(4, 10)), S_OK);
    EXPECT_TRUE(g_packets.empty()) << "the resync sample is dropped";
    EXPECT_FALSE(filter->resyncPending());
    EXPECT_EQ(filter->inputPin()->aligner().searchingSync, 1);
    EXPECT_EQ(filter->inputPin()->aligner().carryLength, -1);
    ASSERT_EQ(push(wholePackets(4, 20)), S_OK);
    ASSERT_EQ(g_packets.size(), 4u);
    EXPECT_EQ(g_packets[0][1], 20);
    EXPECT_TRUE(sleeps.size() == 1) << "only the sample with delivery off slept";

    // Switching off and on again requests another search.
    filter->setDelivery(false);
    filter->setDelivery(true);
    ASSERT_EQ(push(wholePackets(4, 30)), S_OK);
    EXPECT_EQ(g_packets.size(), 4u);
}

TEST_F(TSInputTest, WithoutAPacketHandlerSamplesAreAcceptedAndNothingDecoded)
{
    deliver();
    decoderState().packetCallback = nullptr;
    EXPECT_EQ(push(wholePackets(4)), S_OK);
    EXPECT_TRUE(g_packets.empty());
}

TEST_F(TSInputTest, AFaultInTheHandlerAbandonsTheSampleOnly)
{
    deliver();
    decoderState().packetCallback = throwingPacket;
    EXPECT_EQ(push(wholePackets(4)), S_OK);
    EXPECT_EQ(g_packets.size(), 1u) << "the rest of the sample is abandoned";
    decoderState().packetCallback = recordPacket;
    g_packets.clear();
    EXPECT_EQ(push(wholePackets(4, 5)), S_OK);
    EXPECT_FALSE(g_packets.empty()) << "the next sample is handled again";
}

TEST_F(TSInputTest, StandardChecksAndUnusableSamples)
{
    deliver();
    TSInputPin* pin = filter->inputPin();
    EXPECT_EQ(pin->Receive(nullptr), E_FAIL);
    ASSERT_EQ(pin->BeginFlush(), S_OK);
    EXPECT_EQ(push(wholePackets(2)), S_FALSE) << "flushing";
    ASSERT_EQ(pin->EndFlush(), S_OK);
    EXPECT_EQ(push(Bytes{}), S_OK) << "an empty sample";
    EXPECT_TRUE(g_packets.empty());

    // Stop and pause switch delivery off; a sample reaching the stopped pin
    // with delivery on gets the standard answer.
    ComPtr<IMediaSample> held;
    ASSERT_EQ(source->output()->getDeliveryBuffer(held.put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    held->SetActualDataLength(188);
    ASSERT_EQ(filter->Pause(), S_OK);
    EXPECT_FALSE(filter->deliveryEnabled());
    filter->setDelivery(true);
    ASSERT_EQ(filter->Stop(), S_OK);
    EXPECT_FALSE(filter->deliveryEnabled());
    filter->setDelivery(true);
    EXPECT_EQ(pin->Receive(held.get()), S_OK) << "the resync sample";
    EXPECT_EQ(pin->Receive(held.get()), VFW_E_WRONG_STATE);
}

// A sample as a card driver might hand it over, with whatever data length it claims.
class DriverSample final : public platform::ComObject<IMediaSample> {
public:
    DriverSample(Bytes buffer, LONG claimed) : buffer_(std::move(buffer)), claimed_(claimed) {}
    HRESULT GetPointer(BYTE** buffer) override { *buffer = buffer_.data(); return S_OK; }
    LONG GetSize() override { return static_cast<LONG>(buffer_.size()); }
    LONG GetActualDataLength() override { return claimed_; }
    HRESULT SetActualDataLength(LONG) override { return E_NOTIMPL; }
    HRESULT GetMediaType(AM_MEDIA_TYPE**) override { return S_FALSE; }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }

private:
    Bytes buffer_;
    LONG claimed_;
};

int g_packetCount = 0;
void countPacket(const uint8_t*) { ++g_packetCount; }

TEST_F(TSInputTest, WhatADriverClaimsOfItsSamplesIsNotTrusted)
{
    deliver();
    TSInputPin* pin = filter->inputPin();
    auto receive = [pin](Bytes buffer, LONG claimed) {
        ComPtr<IMediaSample> sample(new DriverSample(std::move(buffer), claimed));
        return pin->Receive(sample.get());
    };
    // A huge sample is decoded whole, packet by packet.
    decoderState().packetCallback = countPacket;
    g_packetCount = 0;
    const int packets = 16 * 1024 * 1024 / 188;
    EXPECT_EQ(receive(wholePackets(packets), packets * 188), S_OK);
    EXPECT_EQ(g_packetCount, packets);

    // More data claimed than the buffer holds: only the buffer is read (the sanitizers watch).
    decoderState().packetCallback = recordPacket;
    EXPECT_EQ(receive(wholePackets(4, 1), 100 * 188), S_OK);
    EXPECT_EQ(g_packets.size(), 4u);
    EXPECT_EQ(receive(wholePackets(4, 1), -188), S_OK);
    EXPECT_EQ(receive(Bytes(1, 0x47), 188), S_OK);
    EXPECT_EQ(g_packets.size(), 4u);
}

TEST_F(TSInputTest, EndOfStreamAndNewSegmentWaitForTheReceiveLock)
{
    for (int which = 0; which < 2; ++which) {
        std::future<HRESULT> done;
        {
            DecoderChange change;
            done = std::async(std::launch::async, [this, which] {
                return which == 0 ? filter->inputPin()->EndOfStream() : filter->inputPin()->NewSegment(0, 1, 1.0);
            });
            EXPECT_EQ(done.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        }
        EXPECT_EQ(done.get(), S_OK);
    }
}

TEST(TSInputClass, IsCreatedByItsClassId)
{
    TSInputFilter::registerClass();
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_TSInputFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(filter.put())),
              S_OK);
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(L"Input", pin.put()), S_OK);
}
