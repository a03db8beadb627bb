// The streaming thread against the GUI thread, for ThreadSanitizer: samples flow from a source's
// thread through the tee to two sinks and the demultiplexer while the test thread (the GUI
// thread) runs, pauses, stops, flushes, reads counters and finally drops the running graph.
#include "platform/media/filter_graph.h"
#include "platform/media/inf_tee.h"
#include "platform/media/mpeg2_filters.h"
#include "test_filters.h"

#include <gtest/gtest.h>

using namespace mediatest;

namespace {

ComPtr<IPin> pinNamed(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(name, pin.put()), S_OK);
    return pin;
}

TEST(MediaStreamingThreads, GuiStateChangesAgainstStreaming)
{
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.putVoid()),
                  S_OK);
        ComPtr<IMediaControl> control = graph.As<IMediaControl>();
        ComPtr<CounterSource> capture(new CounterSource(188 * 7));
        ComPtr<IBaseFilter> tee, demux, tif;
        CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, tee.putVoid());
        CoCreateInstance(CLSID_MPEG2Demultiplexer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.putVoid());
        CoCreateInstance(CLSID_BDA_MPEG2_Transport_Information_Filter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         tif.putVoid());
        ComPtr<SinkFilter> a(new SinkFilter), b(new SinkFilter);
        a->input()->keepBytes = false;
        b->input()->setRenderer(true);
        for (IBaseFilter* f : {static_cast<IBaseFilter*>(capture.get()), tee.get(), demux.get(), tif.get(),
                               static_cast<IBaseFilter*>(a.get()), static_cast<IBaseFilter*>(b.get())})
            ASSERT_TRUE(SUCCEEDED(graph->AddFilter(f, nullptr)));
        ASSERT_EQ(graph->Connect(capture->output(), pinNamed(tee.get(), L"Input").get()), S_OK);
        ASSERT_EQ(graph->Connect(pinNamed(tee.get(), L"Output1").get(), pinNamed(demux.get(), L"MPEG-2 Stream").get()), S_OK);
        ASSERT_EQ(graph->Connect(pinNamed(tee.get(), L"Output2").get(), a->input()), S_OK);
        ASSERT_EQ(graph->Connect(pinNamed(tee.get(), L"Output3").get(), b->input()), S_OK);
        ASSERT_EQ(graph->Connect(pinNamed(demux.get(), L"1").get(), pinNamed(tif.get(), L"Input").get()), S_OK);
        ComPtr<IPin> teeInput = pinNamed(tee.get(), L"Input");

        for (int round = 0; round < 40; ++round) {
            const int before = a->input()->samples;
            switch (round % 5) {
            case 0: ASSERT_EQ(control->Run(), S_OK); break;
            case 1: ASSERT_EQ(control->Pause(), S_OK); break;
            case 2: ASSERT_EQ(control->Run(), S_OK); break;
            case 3: // flushing on the GUI thread while samples flow
                teeInput->BeginFlush();
                teeInput->EndFlush();
                break;
            case 4: ASSERT_EQ(control->Stop(), S_OK); break;
            }
            if (round % 5 != 4) {
                EXPECT_TRUE(eventually([&] { return a->input()->samples > before + 2; })) << round;
            }
            {
                std::lock_guard<std::mutex> lock(b->input()->mutex);
                if (b->input()->bytes.size() > 1 << 20)
                    b->input()->bytes.clear();
            }
        }
        ASSERT_EQ(control->Run(), S_OK);
        EXPECT_TRUE(eventually([&] { return b->input()->samples > 5; }));
        // The GUI thread drops everything while the graph runs.
        capture.reset();
        tee.reset();
        demux.reset();
        tif.reset();
        a.reset();
        b.reset();
        teeInput.reset();
        control.reset();
        graph.reset();
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaStreamingThreads, SourceStoppedAndRestartedOutsideAGraph)
{
    ComPtr<CounterSource> source(new CounterSource(188));
    ComPtr<SinkFilter> sink(new SinkFilter);
    ASSERT_EQ(source->output()->Connect(sink->input(), nullptr), S_OK);
    for (int round = 0; round < 20; ++round) {
        sink->Run(0);
        source->Run(0);
        const int before = sink->input()->samples;
        EXPECT_TRUE(eventually([&] { return sink->input()->samples > before; }));
        source->Stop(); // joins the thread
        sink->Stop();
        std::lock_guard<std::mutex> lock(sink->input()->mutex);
        EXPECT_EQ(sink->input()->bytes.size(), static_cast<size_t>(sink->input()->samples) * 188);
    }
    source->output()->Disconnect();
    sink->input()->Disconnect();
}

} // namespace
