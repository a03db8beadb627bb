// The filter graph: membership, connection, state changes and teardown.
#include "platform/media/filter_graph.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace mediatest;

namespace {

using LoggedSink = Logged<SinkFilter>;
using LoggedSource = Logged<PushSourceFilter>;

ComPtr<IGraphBuilder> newGraph()
{
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.putVoid()),
              S_OK);
    return graph;
}

template <class T>
ComPtr<T> tagged(const char* tag)
{
    ComPtr<T> f(new T);
    f->tag = tag;
    return f;
}

TEST(MediaGraph, CreatedByClassIdWithItsInterfaces)
{
    ComPtr<IGraphBuilder> graph = newGraph();
    ASSERT_TRUE(graph);
    EXPECT_TRUE(graph.As<IFilterGraph>());
    EXPECT_TRUE(graph.As<IMediaControl>());
    EXPECT_TRUE(graph.As<IMediaEvent>());
    EXPECT_TRUE(graph.As<IMediaEventSink>());
    EXPECT_FALSE(graph.As<IBaseFilter>());
    EXPECT_EQ(graph.As<IMediaControl>().As<IUnknown>().get(), graph.As<IUnknown>().get());
}

TEST(MediaGraph, AddFindEnumAndRemoveFilters)
{
    {
        ComPtr<IGraphBuilder> graph = newGraph();
        ComPtr<SinkFilter> a(new SinkFilter), b(new SinkFilter), c(new SinkFilter);
        EXPECT_EQ(graph->AddFilter(a.get(), L"TSInputFilter"), S_OK);
        EXPECT_EQ(graph->AddFilter(a.get(), L"again"), E_INVALIDARG);
        EXPECT_EQ(graph->AddFilter(b.get(), L"TSInputFilter"), VFW_S_DUPLICATE_NAME);
        EXPECT_EQ(graph->AddFilter(c.get(), nullptr), S_OK);
        EXPECT_EQ(graph->AddFilter(nullptr, L"x"), E_POINTER);

        FILTER_INFO info{};
        ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
        EXPECT_STREQ(info.achName, L"TSInputFilter 0001");
        EXPECT_EQ(info.pGraph, graph.As<IFilterGraph>().get());
        info.pGraph->Release();

        ComPtr<IBaseFilter> found;
        EXPECT_EQ(graph->FindFilterByName(L"TSInputFilter", found.put()), S_OK);
        EXPECT_EQ(found.get(), static_cast<IBaseFilter*>(a.get()));
        EXPECT_EQ(graph->FindFilterByName(L"nothing", found.put()), VFW_E_NOT_FOUND);
        EXPECT_FALSE(found);

        ComPtr<IEnumFilters> filters;
        ASSERT_EQ(graph->EnumFilters(filters.put()), S_OK);
        IBaseFilter* got[4] = {};
        ULONG fetched = 0;
        EXPECT_EQ(filters->Next(4, got, &fetched), S_FALSE);
        EXPECT_EQ(fetched, 3u);
        for (ULONG i = 0; i < fetched; ++i)
            got[i]->Release();

        EXPECT_EQ(graph->RemoveFilter(b.get()), S_OK);
        EXPECT_EQ(graph->RemoveFilter(b.get()), VFW_E_NOT_FOUND);
        ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
        EXPECT_EQ(info.pGraph, nullptr);
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaGraph, ConnectAndRefusals)
{
    {
        ComPtr<IGraphBuilder> graph = newGraph();
        ComPtr<PushSourceFilter> source(new PushSourceFilter);
        ComPtr<SinkFilter> sink(new SinkFilter), picky(new SinkFilter(MEDIATYPE_MPEG2_SECTIONS)), outside(new SinkFilter);
        graph->AddFilter(source.get(), L"source");
        graph->AddFilter(sink.get(), L"sink");
        graph->AddFilter(picky.get(), L"picky");

        EXPECT_EQ(graph->Connect(source->output(), outside->input()), VFW_E_NOT_IN_GRAPH);
        EXPECT_EQ(graph->Connect(sink->input(), source->output()), VFW_E_INVALID_DIRECTION);
        EXPECT_EQ(graph->Connect(source->output(), picky->input()), VFW_E_CANNOT_CONNECT);
        EXPECT_EQ(graph->Connect(nullptr, sink->input()), E_POINTER);
        ASSERT_EQ(graph->Connect(source->output(), sink->input()), S_OK);
        EXPECT_EQ(graph->Connect(source->output(), sink->input()), VFW_E_ALREADY_CONNECTED);
        // Removing a filter disconnects both ends of its connections.
        EXPECT_EQ(graph->RemoveFilter(sink.get()), S_OK);
        EXPECT_FALSE(source->output()->isConnected());
        EXPECT_FALSE(sink->input()->isConnected());
        EXPECT_EQ(graph->AddFilter(sink.get(), L"sink"), S_OK);
        EXPECT_EQ(graph->Connect(source->output(), sink->input()), S_OK);
    }
    EXPECT_EQ(g_filtersAlive, 0); // the graph broke the connection cycles
}

struct Chain {
    ComPtr<IGraphBuilder> graph = newGraph();
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<LoggedSource> source = tagged<LoggedSource>("source");
    ComPtr<LoggedSink> sink = tagged<LoggedSink>("sink");
    std::vector<std::string> log;
    Chain()
    {
        // Added source first: the order of state changes must not depend on it.
        graph->AddFilter(source.get(), L"source");
        graph->AddFilter(sink.get(), L"sink");
        EXPECT_EQ(graph->Connect(source->output(), sink->input()), S_OK);
        g_stateLog = &log;
    }
    ~Chain() { g_stateLog = nullptr; }
    std::vector<std::string> take() { return std::exchange(log, {}); }
};

using Log = std::vector<std::string>;

TEST(MediaGraph, StateChangesDownstreamFirstThroughPause)
{
    Chain c;
    EXPECT_EQ(c.control->Run(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Pause", "source:Pause", "sink:Run", "source:Run"}));
    EXPECT_EQ(c.control->Run(), S_OK);
    EXPECT_EQ(c.take(), Log{});
    EXPECT_EQ(c.control->Stop(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Pause", "source:Pause", "sink:Stop", "source:Stop"}));
    EXPECT_EQ(c.control->Pause(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Pause", "source:Pause"}));
    EXPECT_EQ(c.control->Run(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Run", "source:Run"}));
    EXPECT_EQ(c.control->Pause(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Pause", "source:Pause"}));
    EXPECT_EQ(c.control->Stop(), S_OK);
    EXPECT_EQ(c.take(), (Log{"sink:Stop", "source:Stop"}));
}

TEST(MediaGraph, EveryOrderOfStopPauseRun)
{
    Chain c;
    g_stateLog = nullptr;
    const char* names[] = {"Stop", "Pause", "Run"};
    for (int from = 0; from < 3; ++from)
        for (int to = 0; to < 3; ++to) {
            for (int step : {from, to}) {
                HRESULT hr = step == 0 ? c.control->Stop() : step == 1 ? c.control->Pause() : c.control->Run();
                ASSERT_EQ(hr, S_OK) << names[from] << "->" << names[to];
            }
            FILTER_STATE sourceState, sinkState;
            c.source->GetState(0, &sourceState);
            c.sink->GetState(0, &sinkState);
            EXPECT_EQ(sourceState, to);
            EXPECT_EQ(sinkState, to);
            // Samples flow exactly while not stopped.
            const HRESULT pushed = c.source->output()->push(std::vector<BYTE>(188, 0x47));
            EXPECT_EQ(pushed, to == 0 ? VFW_E_NOT_COMMITTED : S_OK)
                << names[from] << "->" << names[to];
        }
}

TEST(MediaGraph, CompletionOnceEveryRendererEnded)
{
    ComPtr<IGraphBuilder> graph = newGraph();
    ComPtr<PushSourceFilter> source(new PushSourceFilter);
    ComPtr<SinkFilter> sink(new SinkFilter);
    sink->input()->setRenderer(true);
    graph->AddFilter(source.get(), L"source");
    graph->AddFilter(sink.get(), L"sink");
    ASSERT_EQ(graph->Connect(source->output(), sink->input()), S_OK);
    ComPtr<IMediaEvent> events = graph.As<IMediaEvent>();
    LONG code = -1;
    EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
    ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);
    EXPECT_EQ(source->output()->deliverEndOfStream(), S_OK);
    EXPECT_EQ(events->WaitForCompletion(1000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    // A new run forgets the old completion.
    graph.As<IMediaControl>()->Stop();
    graph.As<IMediaControl>()->Run();
    EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
    graph.As<IMediaControl>()->Stop();
}

TEST(MediaGraph, RemoveFilterFromRunningGraphStopsIt)
{
    {
        Chain c;
        ASSERT_EQ(c.control->Run(), S_OK);
        c.take();
        EXPECT_EQ(c.graph->RemoveFilter(c.sink.get()), S_OK);
        EXPECT_TRUE(c.source->isStopped());
        EXPECT_FALSE(c.source->output()->isConnected());
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaGraph, RunningGraphReleasedWithoutStop)
{
    {
        Chain c;
        ASSERT_EQ(c.control->Run(), S_OK);
        EXPECT_EQ(c.source->output()->push(std::vector<BYTE>(188, 0x47)), S_OK);
        c.control.reset();
        c.graph.reset(); // the last reference on the graph: it stops and takes itself apart
        EXPECT_TRUE(c.sink->isStopped());
        EXPECT_TRUE(c.source->isStopped());
        EXPECT_FALSE(c.sink->input()->isConnected());
        FILTER_INFO info{};
        c.sink->QueryFilterInfo(&info);
        EXPECT_EQ(info.pGraph, nullptr);
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

} // namespace
