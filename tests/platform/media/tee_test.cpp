// The infinite pin tee, the MPEG-2 demultiplexer and the transport information filter, alone and
// in the shape of the card's graph.
#include "platform/media/filter_graph.h"
#include "platform/media/inf_tee.h"
#include "platform/media/mpeg2_filters.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace mediatest;

namespace {

ComPtr<IBaseFilter> create(REFCLSID clsid)
{
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid()), S_OK);
    return filter;
}

std::vector<std::wstring> pinNames(IBaseFilter* filter)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.put());
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK)
            break;
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        names.push_back(info.achName);
    }
    return names;
}

// The first unconnected pin of a direction (and name), as CBDAManager::ConnectPins picks it.
ComPtr<IPin> freePin(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name = nullptr)
{
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.put());
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK)
            return nullptr;
        ComPtr<IPin> peer;
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        if (info.dir == direction && FAILED(pin->ConnectedTo(peer.put())) && (name == nullptr || info.achName == std::wstring(name)))
            return pin;
    }
}

HRESULT connect(IGraphBuilder* graph, IBaseFilter* up, IBaseFilter* down, const wchar_t* outName = nullptr)
{
    ComPtr<IPin> out = freePin(up, PINDIR_OUTPUT, outName);
    ComPtr<IPin> in = freePin(down, PINDIR_INPUT);
    if (!out || !in)
        return E_FAIL;
    return graph->Connect(out.get(), in.get());
}

ComPtr<IGraphBuilder> newGraph()
{
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(platform::createFilterGraph(IID_IGraphBuilder, graph.putVoid()), S_OK);
    return graph;
}

TEST(MediaSystemFilters, CreatedByClassIdWithTheirPins)
{
    ComPtr<IBaseFilter> tee = create(CLSID_InfTee);
    ComPtr<IBaseFilter> demux = create(CLSID_MPEG2Demultiplexer);
    ComPtr<IBaseFilter> tif = create(CLSID_BDA_MPEG2_Transport_Information_Filter);
    ASSERT_TRUE(tee && demux && tif);
    EXPECT_EQ(pinNames(tee.get()), (std::vector<std::wstring>{L"Input", L"Output1"}));
    EXPECT_EQ(pinNames(demux.get()), (std::vector<std::wstring>{L"MPEG-2 Stream", L"1"}));
    EXPECT_EQ(pinNames(tif.get()), (std::vector<std::wstring>{L"Input"}));
    CLSID clsid{};
    demux->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_MPEG2Demultiplexer);
    tif->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_BDA_MPEG2_Transport_Information_Filter);
    CLSID parsed{};
    CLSIDFromString("{F8388A40-D5BB-11D0-BE5A-0080C706568E}", &parsed);
    EXPECT_EQ(parsed, CLSID_InfTee);
    CLSIDFromString("{AFB6C280-2C41-11D3-8A60-0000F81E0E4A}", &parsed);
    EXPECT_EQ(parsed, CLSID_MPEG2Demultiplexer);
    // The demultiplexer's output offers sections.
    ComPtr<IPin> one;
    ASSERT_EQ(demux->FindPin(L"1", one.put()), S_OK);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(one->EnumMediaTypes(types.put()), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
    EXPECT_EQ(type->majortype, MEDIATYPE_MPEG2_SECTIONS);
    DeleteMediaType(type);
    // The sinks enumerate no types.
    ComPtr<IPin> input;
    tif->FindPin(L"Input", input.put());
    ASSERT_EQ(input->EnumMediaTypes(types.put()), S_OK);
    EXPECT_EQ(types->Next(1, &type, nullptr), S_FALSE);
}

TEST(MediaTee, EverySampleGoesToEveryConnectedOutput)
{
    {
        ComPtr<IGraphBuilder> graph = newGraph();
        ComPtr<PushSourceFilter> source(new PushSourceFilter);
        ComPtr<IBaseFilter> tee = create(CLSID_InfTee);
        ComPtr<SinkFilter> a(new SinkFilter), b(new SinkFilter);
        graph->AddFilter(source.get(), L"source");
        graph->AddFilter(tee.get(), L"Infinite pin tee splitter");
        graph->AddFilter(a.get(), L"a");
        graph->AddFilter(b.get(), L"b");
        // An output connects only once the input is.
        EXPECT_EQ(connect(graph.get(), tee.get(), a.get()), VFW_E_CANNOT_CONNECT);
        ASSERT_EQ(connect(graph.get(), source.get(), tee.get()), S_OK);
        ASSERT_EQ(connect(graph.get(), tee.get(), a.get()), S_OK);
        EXPECT_EQ(pinNames(tee.get()), (std::vector<std::wstring>{L"Input", L"Output1", L"Output2"}));
        ASSERT_EQ(connect(graph.get(), tee.get(), b.get()), S_OK);
        EXPECT_EQ(pinNames(tee.get()), (std::vector<std::wstring>{L"Input", L"Output1", L"Output2", L"Output3"}));
        EXPECT_EQ(a->input()->mediaType().subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
        ComPtr<IMemAllocator> passedOn;
        ASSERT_EQ(a->input()->GetAllocator(passedOn.put()), S_OK);
        EXPECT_EQ(passedOn.get(), source->output()->allocator()); // the upstream's samples, passed on

        ComPtr<IMediaControl> control = graph.As<IMediaControl>();
        ASSERT_EQ(control->Run(), S_OK);
        std::vector<BYTE> packet(188);
        for (size_t i = 0; i < packet.size(); ++i)
            packet[i] = static_cast<BYTE>(i);
        EXPECT_EQ(source->output()->push(packet), S_OK);
        EXPECT_EQ(a->input()->samples, 1);
        EXPECT_EQ(b->input()->samples, 1);
        EXPECT_EQ(a->input()->bytes, packet);
        EXPECT_EQ(b->input()->bytes, packet);

        // One output refusing does not keep the sample from the other.
        a->input()->BeginFlush();
        EXPECT_EQ(source->output()->push(packet), S_OK);
        EXPECT_EQ(a->input()->samples, 1);
        EXPECT_EQ(b->input()->samples, 2);
        b->input()->BeginFlush();
        EXPECT_EQ(source->output()->push(packet), S_FALSE); // both refused: the first answer
        a->input()->EndFlush();
        b->input()->EndFlush();

        // Flushing and end of stream through the tee reach both.
        ComPtr<IPin> teeInput;
        tee->FindPin(L"Input", teeInput.put());
        EXPECT_EQ(teeInput->BeginFlush(), S_OK);
        EXPECT_TRUE(a->input()->isFlushing());
        EXPECT_TRUE(b->input()->isFlushing());
        EXPECT_EQ(source->output()->push(packet), S_FALSE); // the tee itself flushes
        EXPECT_EQ(teeInput->EndFlush(), S_OK);
        EXPECT_FALSE(a->input()->isFlushing());
        EXPECT_EQ(source->output()->deliverEndOfStream(), S_OK);
        EXPECT_EQ(a->input()->endOfStreams, 1);
        EXPECT_EQ(b->input()->endOfStreams, 1);

        // An output disconnected while stopped can be connected again; the free pin stays.
        ASSERT_EQ(control->Stop(), S_OK);
        ComPtr<IPin> output1;
        tee->FindPin(L"Output1", output1.put());
        EXPECT_EQ(output1->Disconnect(), S_OK);
        EXPECT_EQ(a->input()->Disconnect(), S_OK);
        ASSERT_EQ(connect(graph.get(), tee.get(), a.get()), S_OK);
        EXPECT_EQ(pinNames(tee.get()).size(), 4u);
        control->Run();
        EXPECT_EQ(source->output()->push(packet), S_OK);
        EXPECT_EQ(a->input()->samples, 2);
        EXPECT_EQ(b->input()->samples, 3);
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

// The card's graph with a streaming source in place of the capture filter.
struct CardGraph {
    ComPtr<IGraphBuilder> graph = newGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<CounterSource> capture;
    ComPtr<IBaseFilter> tee = create(CLSID_InfTee);
    ComPtr<IBaseFilter> demux = create(CLSID_MPEG2Demultiplexer);
    ComPtr<IBaseFilter> tif = create(CLSID_BDA_MPEG2_Transport_Information_Filter);
    ComPtr<SinkFilter> sink{new SinkFilter};

    explicit CardGraph(int limit = 0) : capture(new CounterSource(188 * 7, limit))
    {
        sink->input()->setRenderer(true);
        sink->input()->keepBytes = false;
        graph->AddFilter(capture.get(), L"Kest Cedar DVBS Capture");
        graph->AddFilter(tee.get(), L"Infinite pin tee splitter");
        graph->AddFilter(demux.get(), L"MPEG2 Demultiplexer");
        graph->AddFilter(tif.get(), L"Transport information filter");
        graph->AddFilter(sink.get(), L"TSInputFilter");
        EXPECT_EQ(connect(graph.get(), capture.get(), tee.get()), S_OK);
        EXPECT_EQ(connect(graph.get(), tee.get(), demux.get()), S_OK);
        EXPECT_EQ(connect(graph.get(), tee.get(), sink.get()), S_OK);
        EXPECT_EQ(connect(graph.get(), demux.get(), tif.get(), L"1"), S_OK);
    }
};

TEST(MediaTee, CardGraphRunsStopsAndCompletes)
{
    {
        CardGraph g(20);
        ASSERT_EQ(g.control->Run(), S_OK);
        LONG code = 0;
        ASSERT_EQ(g.graph.As<IMediaEvent>()->WaitForCompletion(5000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE); // both renderers: the sink and, through the demultiplexer, the TIF
        EXPECT_EQ(g.sink->input()->samples, 20);
        EXPECT_EQ(g.control->Stop(), S_OK);
        // StopGraph's sequence, then a new run.
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_EQ(g.control->Pause(), S_OK);
        EXPECT_EQ(g.control->Stop(), S_OK);
        EXPECT_EQ(g.control->Run(), S_OK);
        EXPECT_EQ(g.control->Stop(), S_OK);
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaTee, CardGraphTornDownWhileRunning)
{
    {
        CardGraph g;
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_TRUE(eventually([&] { return g.sink->input()->samples > 50; }));
        // TearDownGraph's order: remove the filters from the running graph, one by one.
        EXPECT_EQ(g.graph->RemoveFilter(g.tif.get()), S_OK);
        EXPECT_EQ(g.graph->RemoveFilter(g.demux.get()), S_OK);
        EXPECT_EQ(g.graph->RemoveFilter(g.tee.get()), S_OK);
        EXPECT_EQ(g.graph->RemoveFilter(g.capture.get()), S_OK);
        EXPECT_EQ(g.graph->RemoveFilter(g.sink.get()), S_OK);
    }
    {
        CardGraph g;
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_TRUE(eventually([&] { return g.sink->input()->samples > 50; }));
        // The filters are released first, the graph last, still running.
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

} // namespace
