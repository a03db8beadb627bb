// Source filters: the streaming thread and the file source.
#include "platform/media/file_source.h"
#include "platform/media/filter_graph.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace mediatest;

namespace {

struct Graph {
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    Graph()
    {
        platform::createFilterGraph(IID_IGraphBuilder, builder.putVoid());
        control = builder.As<IMediaControl>();
        events = builder.As<IMediaEvent>();
    }
    void connect(IBaseFilter* up, platform::BasePin* out, IBaseFilter* down, platform::BasePin* in)
    {
        builder->AddFilter(up, nullptr);
        builder->AddFilter(down, nullptr);
        ASSERT_EQ(builder->Connect(out, in), S_OK);
    }
};

TEST(MediaSource, StreamsWhilePausedAndRunningStopsOnStop)
{
    {
        Graph g;
        ComPtr<CounterSource> source(new CounterSource(188));
        ComPtr<SinkFilter> sink(new SinkFilter);
        source->output()->paceMs = 1;
        g.connect(source.get(), source->output(), sink.get(), sink->input());
        EXPECT_EQ(source->output()->threadsStarted, 0);

        ASSERT_EQ(g.control->Pause(), S_OK);
        EXPECT_TRUE(eventually([&] { return sink->input()->samples >= 3; }));
        ASSERT_EQ(g.control->Run(), S_OK);
        const int before = sink->input()->samples;
        EXPECT_TRUE(eventually([&] { return sink->input()->samples >= before + 3; }));
        EXPECT_EQ(source->output()->threadsStarted, 1); // Pause -> Run keeps the thread
        ASSERT_EQ(g.control->Stop(), S_OK);
        EXPECT_EQ(source->output()->threadsStopped, 1); // joined by Stop
        const int stopped = sink->input()->samples;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(sink->input()->samples, stopped);

        {
            // The bytes arrived whole and in order.
            std::lock_guard<std::mutex> lock(sink->input()->mutex);
            const auto& bytes = sink->input()->bytes;
            ASSERT_EQ(bytes.size(), static_cast<size_t>(stopped) * 188);
            for (size_t s = 0; s < bytes.size() / 188; ++s)
                ASSERT_EQ(bytes[s * 188 + 1], static_cast<BYTE>(s + 1));
        }

        // Again from Stopped: a new thread.
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_TRUE(eventually([&] { return sink->input()->samples > stopped; }));
        EXPECT_EQ(source->output()->threadsStarted, 2);
        g.control->Stop();
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaSource, EndOfStreamCompletesTheGraph)
{
    Graph g;
    ComPtr<CounterSource> source(new CounterSource(100, 5));
    ComPtr<SinkFilter> sink(new SinkFilter);
    sink->input()->setRenderer(true);
    g.connect(source.get(), source->output(), sink.get(), sink->input());
    ASSERT_EQ(g.control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(g.events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(sink->input()->samples, 5);
    EXPECT_EQ(sink->input()->endOfStreams, 1);
    EXPECT_EQ(g.control->Stop(), S_OK);
}

// A read that fails partway is an abort, even behind a renderer that completes the run at
// the end of stream the source still sends: a failed input is never reported as a whole one.
TEST(MediaSource, FailingFillAbortsWithEvent)
{
    Graph g;
    ComPtr<CounterSource> source(new CounterSource(100, 2));
    source->output()->failure = E_FAIL;
    ComPtr<SinkFilter> sink(new SinkFilter);
    sink->input()->setRenderer(true);
    g.connect(source.get(), source->output(), sink.get(), sink->input());
    ASSERT_EQ(g.control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(g.events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_TRUE(eventually([&] { return sink->input()->endOfStreams == 1; }));
    g.control->Stop();
}

TEST(MediaSource, StopInterruptsABlockedFillAndAFullAllocator)
{
    Graph g;
    ComPtr<CounterSource> source(new CounterSource(188));
    ComPtr<SinkFilter> sink(new SinkFilter);
    g.connect(source.get(), source->output(), sink.get(), sink->input());
    source->output()->blockMs = 60000;
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(eventually([&] { return source->output()->fillCalls > 0; }));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(sink->input()->samples, 0);

    // The thread waits in GetBuffer while the test holds every sample, until Stop decommits.
    g.control->Run();
    EXPECT_TRUE(eventually([&] { return sink->input()->samples > 0; }));
    g.control->Pause();
    ComPtr<IMemAllocator> allocator(source->output()->allocator());
    std::vector<ComPtr<IMediaSample>> held;
    for (;;) { // take the samples as the thread frees them, until none is left
        ComPtr<IMediaSample> s;
        if (allocator->GetBuffer(s.put(), nullptr, nullptr, AM_GBF_NOWAIT) == S_OK)
            held.push_back(s);
        if (held.size() == 3) // the allocator has three
            break;
    }
    const int fills = source->output()->fillCalls;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(source->output()->fillCalls, fills);
    EXPECT_EQ(g.control->Stop(), S_OK);
    held.clear();
}

TEST(MediaSource, ReleasedWhileRunningOutsideAGraph)
{
    {
        ComPtr<CounterSource> source(new CounterSource(188));
        ComPtr<SinkFilter> sink(new SinkFilter);
        sink->input()->keepBytes = false;
        ASSERT_EQ(source->output()->Connect(sink->input(), nullptr), S_OK);
        sink->Run(0);
        source->Run(0);
        EXPECT_TRUE(eventually([&] { return sink->input()->samples > 10; }));
        // Break the connection cycle the way a graph would, but leave the source running: only
        // its last Release stops it.
        sink->Stop();
        EXPECT_EQ(sink->input()->Disconnect(), S_OK);
        CounterSource* raw = source.get();
        raw->AddRef();
        source.reset();
        EXPECT_EQ(raw->output()->Disconnect(), VFW_E_NOT_STOPPED);
        raw->Release(); // the peer reference keeps the sink; the source's pin still holds it
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

TEST(MediaSource, RunningGraphTornDownWithoutHang)
{
    {
        Graph g;
        ComPtr<CounterSource> source(new CounterSource(188));
        ComPtr<SinkFilter> sink(new SinkFilter);
        sink->input()->keepBytes = false;
        g.connect(source.get(), source->output(), sink.get(), sink->input());
        ASSERT_EQ(g.control->Run(), S_OK);
        EXPECT_TRUE(eventually([&] { return sink->input()->samples > 100; }));
        source.reset();
        sink.reset();
        g.events.reset();
        g.control.reset();
        g.builder.reset();
    }
    EXPECT_EQ(g_filtersAlive, 0);
}

std::string tempFile(const std::vector<BYTE>& bytes)
{
    char path[] = "/tmp/kest-media-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return path;
}

HRESULT fileSource(const char* path, LONG sampleSize, IBaseFilter** filter)
{
    platform::FileSourceOptions options;
    options.sampleSize = sampleSize;
    return platform::createFileSource(path, options, filter);
}

TEST(MediaFileSource, ReadsTheFileInSamplesOfTheGivenSize)
{
    std::vector<BYTE> bytes(188 * 10 + 50);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i * 7);
    const std::string path = tempFile(bytes);
    {
        Graph g;
        ComPtr<IBaseFilter> file;
        ASSERT_EQ(fileSource(path.c_str(), 188 * 4, file.put()), S_OK);
        CLSID clsid{};
        file->GetClassID(&clsid);
        EXPECT_EQ(clsid, platform::CLSID_KestFileSource);
        ComPtr<IPin> out;
        ASSERT_EQ(file->FindPin(L"Output", out.put()), S_OK);
        ComPtr<SinkFilter> sink(new SinkFilter);
        sink->input()->setRenderer(true);
        g.builder->AddFilter(file.get(), L"file");
        g.builder->AddFilter(sink.get(), L"sink");
        ASSERT_EQ(g.builder->Connect(out.get(), sink->input()), S_OK);
        ASSERT_EQ(g.control->Run(), S_OK);
        LONG code = 0;
        ASSERT_EQ(g.events->WaitForCompletion(5000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        EXPECT_EQ(sink->input()->samples, 3); // 752, 752, 426
        EXPECT_EQ(sink->input()->bytes, bytes);
        g.control->Stop();
    }
    std::remove(path.c_str());
    ComPtr<IBaseFilter> none;
    EXPECT_EQ(fileSource("/nonexistent/kest.ts", 188, none.put()), static_cast<HRESULT>(0x80070002u));
    EXPECT_EQ(fileSource("/tmp", 0, none.put()), E_INVALIDARG);
    EXPECT_FALSE(none);
}

TEST(MediaFileSource, StopDoesNotWaitForASilentPipe)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    {
        Graph g;
        ComPtr<IBaseFilter> file;
        ASSERT_EQ(fileSource("-", 188, file.put()), S_OK);
        ComPtr<IPin> out;
        file->FindPin(L"Output", out.put());
        ComPtr<SinkFilter> sink(new SinkFilter);
        g.builder->AddFilter(file.get(), L"stdin");
        g.builder->AddFilter(sink.get(), L"sink");
        ASSERT_EQ(g.builder->Connect(out.get(), sink->input()), S_OK);
        ASSERT_EQ(g.control->Run(), S_OK);
        const std::vector<BYTE> packet(188, 0x47);
        ASSERT_EQ(write(fds[1], packet.data(), packet.size()), 188);
        EXPECT_TRUE(eventually([&] { return sink->input()->samples == 1; }));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(g.control->Stop(), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
    close(fds[0]);
    close(fds[1]);
}

} // namespace

namespace {

// A graph of the file source and a sink; runs to its end and returns the
// completion code (0 when it did not complete within 10 s).
LONG runFileSource(const char* path, LONG sampleSize, SinkFilter* sink)
{
    Graph g;
    ComPtr<IBaseFilter> file;
    EXPECT_EQ(fileSource(path, sampleSize, file.put()), S_OK);
    if (!file)
        return 0;
    ComPtr<IPin> out;
    file->FindPin(L"Output", out.put());
    sink->input()->setRenderer(true);
    g.builder->AddFilter(file.get(), L"file");
    g.builder->AddFilter(sink, L"sink");
    EXPECT_EQ(g.builder->Connect(out.get(), sink->input()), S_OK);
    EXPECT_EQ(g.control->Run(), S_OK);
    LONG code = 0;
    if (g.events->WaitForCompletion(10000, &code) != S_OK)
        code = 0;
    g.control->Stop();
    return code;
}

// The input is read in large pieces and handed out without a copy into
// samples (each sample starts where the one before ended), every sample full
// but the last, in any sample size, from a file or from a pipe on standard input.
TEST(MediaFileSource, TheInputIsHandedOutInPiecesOfLargeReadsEverySampleFull)
{
    std::vector<BYTE> bytes(188 * 40 + 77);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i * 13 + i / 256);
    const std::string path = tempFile(bytes);
    for (LONG size : {1, 7, 188, 189, 4096, 100000}) {
        SCOPED_TRACE(size);
        ComPtr<SinkFilter> sink(new SinkFilter);
        EXPECT_EQ(runFileSource(path.c_str(), size, sink.get()), EC_COMPLETE);
        const SinkPin& in = *sink->input();
        EXPECT_TRUE(in.bytes == bytes);
        EXPECT_EQ(in.samples, static_cast<int>((bytes.size() + size - 1) / size));
        for (size_t i = 1; i + 1 < in.pointers.size(); ++i) // the last may follow one more read
            ASSERT_EQ(in.pointers[i], in.pointers[i - 1] + size) << "sample " << i;
    }

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size(); at += 1000)
            (void)!write(fds[1], bytes.data() + at, std::min<size_t>(1000, bytes.size() - at));
        close(fds[1]);
    });
    ComPtr<SinkFilter> sink(new SinkFilter);
    EXPECT_EQ(runFileSource("-", 7, sink.get()), EC_COMPLETE);
    writer.join();
    dup2(saved, STDIN_FILENO);
    close(saved);
    close(fds[0]);
    EXPECT_TRUE(sink->input()->bytes == bytes);
    EXPECT_EQ(sink->input()->samples, static_cast<int>((bytes.size() + 6) / 7));
    std::remove(path.c_str());
}

} // namespace
