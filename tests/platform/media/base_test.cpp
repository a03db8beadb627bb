// Filter and pin bases, samples and the allocator.
#include "test_filters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace mediatest;

namespace {

struct Pair {
    ComPtr<PushSourceFilter> source{new PushSourceFilter};
    ComPtr<SinkFilter> sink{new SinkFilter};
    PushPin* out() { return source->output(); }
    SinkPin* in() { return sink->input(); }
    void disconnect()
    {
        source->Stop();
        sink->Stop();
        out()->Disconnect();
        in()->Disconnect();
    }
};

TEST(MediaBase, FilterAnswersItsInterfacesOnly)
{
    {
        ComPtr<SinkFilter> sink(new SinkFilter);
        EXPECT_TRUE(sink.As<IBaseFilter>());
        EXPECT_TRUE(sink.As<IMediaFilter>());
        EXPECT_TRUE(sink.As<IPersist>());
        EXPECT_FALSE(sink.As<IPin>());
        CLSID clsid{};
        EXPECT_EQ(sink->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_TestSink);
        // A pin counts its references on the filter and answers IPin and IMemInputPin.
        ComPtr<IPin> pin(sink->input());
        EXPECT_TRUE(pin.As<IMemInputPin>());
        EXPECT_EQ(pin.As<IUnknown>().get(), static_cast<IUnknown*>(static_cast<IPin*>(sink->input())));
        sink.reset();
        EXPECT_EQ(g_filtersAlive, 1); // the pin keeps its filter
        PIN_INFO info{};
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(info.dir, PINDIR_INPUT);
        EXPECT_STREQ(info.achName, L"Input");
        info.pFilter->Release();
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

// The way a card's filter adds an interface of its own (IKsPropertySet, IBDA_DeviceControl):
// another IUnknown base, one final overrider of IUnknown, queryExtra.
inline constexpr IID IID_IExtra = {0x7E57E47A, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
struct IExtra : IUnknown {
    static constexpr const IID& kIid = IID_IExtra;
    using Parent = IUnknown;
    virtual int extra() = 0;
};

class ExtraPin final : public platform::BaseOutputPin, public IExtra {
public:
    explicit ExtraPin(platform::BaseFilter* filter) : BaseOutputPin(filter, L"MPEG2 Transport") {}
    KEST_FORWARD_IUNKNOWN(BaseOutputPin)
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    int extra() override { return 2; }

protected:
    void* queryExtra(REFIID riid) override { return riid == IID_IExtra ? static_cast<IExtra*>(this) : nullptr; }
};

class ExtraFilter final : public platform::SourceFilter, public IExtra {
public:
    ExtraFilter() : SourceFilter(CLSID_TestSource)
    {
        pin_ = addPin<ExtraPin>(this);
        addPin<SinkPin>(this, GUID_NULL); // pins of any kind: an input too
        ++g_filtersAlive;
    }
    ~ExtraFilter() override { --g_filtersAlive; }
    KEST_FORWARD_IUNKNOWN(SourceFilter)
    int extra() override { return 1; }
    ExtraPin* pin_;

protected:
    void* queryExtra(REFIID riid) override { return riid == IID_IExtra ? static_cast<IExtra*>(this) : nullptr; }
};

TEST(MediaBase, FiltersAndPinsAddInterfacesOfTheirOwn)
{
    {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(platform::createObject<ExtraFilter>(IID_IBaseFilter, filter.putVoid()), S_OK);
        ComPtr<IExtra> extra = filter.As<IExtra>();
        ASSERT_TRUE(extra);
        EXPECT_EQ(extra->extra(), 1);
        EXPECT_EQ(extra.As<IBaseFilter>().get(), filter.get());
        EXPECT_EQ(extra.As<IUnknown>().get(), filter.As<IUnknown>().get());
        ComPtr<IPin> pin;
        ASSERT_EQ(filter->FindPin(L"MPEG2 Transport", pin.put()), S_OK);
        ComPtr<IExtra> pinExtra = pin.As<IExtra>();
        ASSERT_TRUE(pinExtra);
        EXPECT_EQ(pinExtra->extra(), 2);
        EXPECT_EQ(pinExtra.As<IPin>().get(), pin.get());
        EXPECT_FALSE(pin.As<IMemInputPin>());
        ComPtr<IPin> input;
        ASSERT_EQ(filter->FindPin(L"Input", input.put()), S_OK);
        EXPECT_TRUE(input.As<IMemInputPin>());
        input.reset();
        filter.reset();
        extra.reset();
        EXPECT_EQ(g_filtersAlive, 1); // the pins' references keep the filter
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaBase, EnumPinsFindPinAndFilterInfo)
{
    ComPtr<SinkFilter> sink(new SinkFilter);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(sink->EnumPins(pins.put()), S_OK);
    IPin* got[2] = {nullptr, nullptr};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], static_cast<IPin*>(sink->input()));
    got[0]->Release();
    EXPECT_EQ(pins->Next(1, got, nullptr), S_FALSE);

    ComPtr<IPin> found;
    EXPECT_EQ(sink->FindPin(L"Input", found.put()), S_OK);
    EXPECT_EQ(sink->FindPin(L"Output", found.put()), VFW_E_NOT_FOUND);
    EXPECT_FALSE(found);

    FILTER_INFO info{};
    ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"");
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST(MediaBase, ConnectNegotiatesTypeAndAllocator)
{
    Pair p;
    ASSERT_EQ(p.out()->Connect(p.in(), nullptr), S_OK);
    EXPECT_TRUE(p.out()->isConnected());
    EXPECT_TRUE(p.in()->isConnected());
    EXPECT_EQ(p.in()->mediaType().majortype, MEDIATYPE_Stream);
    EXPECT_EQ(p.in()->mediaType().subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
    ComPtr<IPin> peer;
    EXPECT_EQ(p.in()->ConnectedTo(peer.put()), S_OK);
    EXPECT_EQ(peer.get(), static_cast<IPin*>(p.out()));
    EXPECT_EQ(p.out()->mediaType(), p.in()->mediaType());
    // The sink's allocator, sized by the source: two samples of four packets.
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(p.in()->GetAllocator(allocator.put()), S_OK);
    EXPECT_EQ(allocator.get(), p.out()->allocator());
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> first, second, third;
    ASSERT_EQ(allocator->GetBuffer(first.put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    ASSERT_EQ(allocator->GetBuffer(second.put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(allocator->GetBuffer(third.put(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    EXPECT_EQ(first->GetSize(), 188 * 4);
    first.reset();
    second.reset();
    ASSERT_EQ(allocator->Decommit(), S_OK);

    EXPECT_EQ(p.out()->Connect(p.in(), nullptr), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(p.in()->ReceiveConnection(p.out(), &p.in()->mediaType()), VFW_E_ALREADY_CONNECTED);
    // Not while running.
    ASSERT_EQ(p.sink->Run(0), S_OK);
    EXPECT_EQ(p.in()->Disconnect(), VFW_E_NOT_STOPPED);
    p.disconnect();
    EXPECT_FALSE(p.out()->isConnected());
    EXPECT_FALSE(p.in()->isConnected());
    EXPECT_EQ(p.in()->Disconnect(), S_FALSE);
    EXPECT_EQ(p.in()->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
}

TEST(MediaBase, ConnectRefusals)
{
    {
        Pair p;
        ComPtr<SinkFilter> other(new SinkFilter);
        // Two input pins; an output pin's ReceiveConnection from an output pin.
        EXPECT_EQ(p.in()->ReceiveConnection(other->input(), &p.in()->mediaType()), VFW_E_INVALID_DIRECTION);
        ComPtr<PushSourceFilter> second(new PushSourceFilter);
        platform::MediaType stream(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
        EXPECT_EQ(p.out()->ReceiveConnection(second->output(), &stream), VFW_E_INVALID_DIRECTION);
        // A type the sink refuses.
        ComPtr<SinkFilter> picky(new SinkFilter(MEDIATYPE_MPEG2_SECTIONS));
        EXPECT_EQ(p.out()->Connect(picky->input(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
        EXPECT_EQ(p.out()->Connect(picky->input(), &stream), VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_FALSE(p.out()->isConnected());
        EXPECT_FALSE(picky->input()->isConnected());
        // A partial type that matches nothing offered.
        platform::MediaType sections(MEDIATYPE_MPEG2_SECTIONS, GUID_NULL, GUID_NULL);
        EXPECT_EQ(p.out()->Connect(p.in(), &sections), VFW_E_NO_ACCEPTABLE_TYPES);
        // Not while active.
        p.source->Pause();
        EXPECT_EQ(p.out()->Connect(p.in(), nullptr), VFW_E_NOT_STOPPED);
        p.source->Stop();
        p.sink->Pause();
        EXPECT_EQ(p.out()->Connect(p.in(), nullptr), VFW_E_NOT_STOPPED); // the sink refuses
        EXPECT_FALSE(p.out()->isConnected());
        p.sink->Stop();
        EXPECT_EQ(p.out()->Connect(nullptr, nullptr), E_POINTER);
        EXPECT_EQ(p.out()->Connect(p.in(), nullptr), S_OK);
        p.disconnect();
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaBase, ReceiveChecksResultCodes)
{
    Pair p;
    const std::vector<BYTE> data(188, 0x47);
    // Not connected: the allocator is missing on the output, the input refuses directly.
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(platform::createMemAllocator(allocator.put()), S_OK);
    ALLOCATOR_PROPERTIES props{1, 188, 1, 0}, actual{};
    ASSERT_EQ(allocator->SetProperties(&props, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ComPtr<IMediaSample> loose;
    ASSERT_EQ(allocator->GetBuffer(loose.put(), nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(p.in()->Receive(loose.get()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(p.out()->push(data), VFW_E_NO_ALLOCATOR);
    EXPECT_EQ(p.out()->deliver(loose.get()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(p.in()->Receive(nullptr), E_POINTER);

    ASSERT_EQ(p.out()->Connect(p.in(), nullptr), S_OK);
    // Stopped: the source is paused (its allocator committed), the sink is not.
    ASSERT_EQ(p.source->Pause(), S_OK);
    EXPECT_EQ(p.out()->push(data), VFW_E_WRONG_STATE);
    EXPECT_EQ(p.in()->Receive(loose.get()), VFW_E_WRONG_STATE);
    ASSERT_EQ(p.sink->Pause(), S_OK);
    EXPECT_EQ(p.out()->push(data), S_OK); // paused filters take samples
    ASSERT_EQ(p.sink->Run(0), S_OK);
    EXPECT_EQ(p.out()->push(data), S_OK);
    EXPECT_EQ(p.in()->samples, 2);
    // Flushing: S_FALSE until EndFlush.
    EXPECT_EQ(p.in()->BeginFlush(), S_OK);
    EXPECT_TRUE(p.in()->isFlushing());
    EXPECT_EQ(p.out()->push(data), S_FALSE);
    EXPECT_EQ(p.in()->EndOfStream(), S_FALSE);
    EXPECT_EQ(p.in()->EndFlush(), S_OK);
    EXPECT_EQ(p.out()->push(data), S_OK);
    // A sample announcing a type the pin refuses.
    ComPtr<IMediaSample> typed;
    ASSERT_EQ(p.out()->getDeliveryBuffer(typed.put(), nullptr, nullptr, 0), S_OK);
    platform::MediaType sections(MEDIATYPE_MPEG2_SECTIONS, MEDIASUBTYPE_MPEG2DATA);
    typed->SetMediaType(&sections);
    EXPECT_EQ(p.in()->Receive(typed.get()), S_OK); // this sink accepts every type
    {
        ComPtr<PushSourceFilter> source(new PushSourceFilter);
        ComPtr<SinkFilter> picky(new SinkFilter(MEDIATYPE_Stream));
        ASSERT_EQ(source->output()->Connect(picky->input(), nullptr), S_OK);
        picky->Run(0);
        EXPECT_EQ(picky->input()->Receive(typed.get()), VFW_E_INVALIDMEDIATYPE);
        picky->Stop();
        source->output()->Disconnect();
        picky->input()->Disconnect();
    }
    typed.reset();
    EXPECT_EQ(p.in()->samples, 4);
    // Stop clears flushing; the samples all came back.
    p.in()->BeginFlush();
    p.disconnect();
    EXPECT_FALSE(p.in()->isFlushing());
    EXPECT_EQ(p.in()->ReceiveCanBlock(), S_FALSE);
    loose.reset();
    allocator->Decommit();
}

TEST(MediaBase, RenderingPinReportsNothingWithoutGraph)
{
    Pair p;
    p.in()->setRenderer(true);
    ASSERT_EQ(p.out()->Connect(p.in(), nullptr), S_OK);
    EXPECT_EQ(p.out()->deliverEndOfStream(), VFW_E_WRONG_STATE);
    p.sink->Run(0);
    EXPECT_EQ(p.out()->deliverEndOfStream(), S_OK);
    EXPECT_EQ(p.in()->endOfStreams, 2);
    EXPECT_EQ(p.out()->EndOfStream(), E_UNEXPECTED);
    p.disconnect();
    EXPECT_EQ(p.out()->deliverEndOfStream(), VFW_E_NOT_CONNECTED);
}

TEST(MediaBase, StateChangesInEveryOrder)
{
    Pair p;
    ASSERT_EQ(p.out()->Connect(p.in(), nullptr), S_OK);
    const FILTER_STATE states[] = {State_Stopped, State_Paused, State_Running};
    for (FILTER_STATE from : states)
        for (FILTER_STATE to : states) {
            for (FILTER_STATE target : {from, to}) {
                HRESULT hr = target == State_Stopped ? p.source->Stop()
                             : target == State_Paused ? p.source->Pause()
                                                      : p.source->Run(0);
                EXPECT_EQ(hr, S_OK);
                FILTER_STATE now;
                EXPECT_EQ(p.source->GetState(0, &now), S_OK);
                EXPECT_EQ(now, target);
            }
            // The output's allocator is committed exactly while the filter is not stopped.
            ComPtr<IMediaSample> sample;
            EXPECT_EQ(p.out()->getDeliveryBuffer(sample.put(), nullptr, nullptr, AM_GBF_NOWAIT),
                      to != State_Stopped ? S_OK : VFW_E_NOT_COMMITTED)
                << from << "->" << to;
        }
    p.disconnect();
}

TEST(MediaBase, AllocatorBlocksUntilASampleIsFree)
{
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(platform::createMemAllocator(allocator.put()), S_OK);
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES props{2, 100, 16, 0}, actual{};
    EXPECT_EQ(allocator->SetProperties(&props, &actual), S_OK);
    EXPECT_EQ(actual.cbBuffer, 112); // rounded up to the alignment
    props.cbAlign = 3;
    EXPECT_EQ(allocator->SetProperties(&props, &actual), VFW_E_BADALIGN);
    EXPECT_EQ(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&props, &actual), VFW_E_ALREADY_COMMITTED);

    ComPtr<IMediaSample> a, b;
    ASSERT_EQ(allocator->GetBuffer(a.put(), nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(b.put(), nullptr, nullptr, 0), S_OK);
    BYTE* pa = nullptr;
    a->GetPointer(&pa);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pa) % 16, 0u);
    EXPECT_EQ(a->GetSize(), 112);
    EXPECT_EQ(a->GetActualDataLength(), 112);
    EXPECT_EQ(a->SetActualDataLength(113), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(a->SetActualDataLength(50), S_OK);
    EXPECT_EQ(allocator->GetBuffer(sample.put(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    // A media type travels with the sample until it comes back.
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(a->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(type, nullptr);
    platform::MediaType sections(MEDIATYPE_MPEG2_SECTIONS, MEDIASUBTYPE_MPEG2DATA);
    ASSERT_EQ(a->SetMediaType(&sections), S_OK);
    ASSERT_EQ(a->GetMediaType(&type), S_OK);
    EXPECT_EQ(type->majortype, MEDIATYPE_MPEG2_SECTIONS);
    DeleteMediaType(type);
    EXPECT_TRUE(ComPtr<IMediaSample>(a).As<IMediaSample>());

    // A waiting GetBuffer gets the sample released on another thread.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        a.reset();
    });
    ASSERT_EQ(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0), S_OK);
    releaser.join();
    // It comes back with its properties reset.
    EXPECT_EQ(sample->GetActualDataLength(), 112);
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);

    // Decommit wakes a waiter with VFW_E_NOT_COMMITTED.
    std::thread waiter([&] {
        ComPtr<IMediaSample> none;
        EXPECT_EQ(allocator->GetBuffer(none.put(), nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(allocator->Decommit(), S_OK);
    waiter.join();
    // Outstanding samples keep the allocator alive.
    IMemAllocator* raw = allocator.get();
    allocator.reset();
    sample.reset();
    EXPECT_EQ(raw->AddRef(), 2u);
    raw->Release();
    b.reset(); // the last sample frees the allocator (LeakSanitizer watches)
}

} // namespace
