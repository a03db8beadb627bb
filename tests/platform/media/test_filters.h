// Small filters for the media tests: a sink that counts what it receives and a source whose
// output pin the test drives by hand.
#pragma once

#include "platform/media/allocator.h"
#include "platform/media/base_pins.h"
#include "platform/media/source_filter.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mediatest {

inline std::atomic<int> g_filtersAlive{0};

// State changes of the test filters, as "tag:Pause", while a test has set it (GUI thread only).
inline std::vector<std::string>* g_stateLog = nullptr;

// Logs the state changes of a filter class under a tag.
template <class Base>
class Logged : public Base {
public:
    using Base::Base;
    std::string tag;
    HRESULT Stop() override { log("Stop"); return Base::Stop(); }
    HRESULT Pause() override { log("Pause"); return Base::Pause(); }
    HRESULT Run(REFERENCE_TIME start) override { log("Run"); return Base::Run(start); }

private:
    void log(const char* what)
    {
        if (g_stateLog != nullptr)
            g_stateLog->push_back(tag + ":" + what);
    }
};

inline constexpr CLSID CLSID_TestSink = {0x7E57F11E, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr CLSID CLSID_TestSource = {0x7E57F11E, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};

class SinkFilter;

class SinkPin final : public platform::BaseInputPin {
public:
    SinkPin(platform::BaseFilter* filter, const GUID& accepted);
    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return accepted_ == GUID_NULL || type.majortype == accepted_ ? S_OK : S_FALSE;
    }
    HRESULT Receive(IMediaSample* sample) override
    {
        const HRESULT hr = receiveChecks(sample);
        if (hr != S_OK)
            return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (keepBytes) {
            std::lock_guard<std::mutex> lock(mutex);
            bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
            pointers.push_back(data);
        }
        ++samples;
        return S_OK;
    }
    HRESULT ReceiveCanBlock() override { return S_FALSE; }
    HRESULT EndOfStream() override
    {
        ++endOfStreams;
        return BaseInputPin::EndOfStream();
    }
    using BaseInputPin::setRenderer;

    std::atomic<bool> keepBytes{true};
    std::mutex mutex;
    std::vector<BYTE> bytes;
    std::vector<const BYTE*> pointers; // of each sample whose bytes are kept
    std::atomic<int> samples{0};
    std::atomic<int> endOfStreams{0};

private:
    GUID accepted_;
};

class SinkFilter : public platform::BaseFilter {
public:
    explicit SinkFilter(const GUID& accepted = GUID_NULL) : BaseFilter(CLSID_TestSink)
    {
        pin_ = std::make_unique<SinkPin>(this, accepted);
        ++g_filtersAlive;
    }
    ~SinkFilter() override { --g_filtersAlive; }
    int pinCount() override { return 1; }
    platform::BasePin* pin(int index) override { return index == 0 ? pin_.get() : nullptr; }
    SinkPin* input() { return pin_.get(); }

private:
    std::unique_ptr<SinkPin> pin_;
};

inline SinkPin::SinkPin(platform::BaseFilter* filter, const GUID& accepted)
    : BaseInputPin(filter, L"Input"), accepted_(accepted) {}

class PushPin final : public platform::BaseOutputPin {
public:
    PushPin(platform::BaseFilter* filter, const GUID& major) : BaseOutputPin(filter, L"Output"), major_(major) {}
    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return type.majortype == major_ ? S_OK : S_FALSE;
    }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(major_, MEDIASUBTYPE_MPEG2_TRANSPORT);
        return S_OK;
    }
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = 2;
        request->cbBuffer = 188 * 4;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }
    // One sample holding `bytes`, delivered on the calling thread.
    HRESULT push(const std::vector<BYTE>& bytes)
    {
        ComPtr<IMediaSample> sample;
        HRESULT hr = getDeliveryBuffer(sample.put(), nullptr, nullptr, AM_GBF_NOWAIT);
        if (FAILED(hr))
            return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::copy(bytes.begin(), bytes.end(), data);
        sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
        return deliver(sample.get());
    }

private:
    GUID major_;
};

class PushSourceFilter : public platform::BaseFilter {
public:
    explicit PushSourceFilter(const GUID& major = MEDIATYPE_Stream) : BaseFilter(CLSID_TestSource)
    {
        pin_ = std::make_unique<PushPin>(this, major);
        ++g_filtersAlive;
    }
    ~PushSourceFilter() override { --g_filtersAlive; }
    int pinCount() override { return 1; }
    platform::BasePin* pin(int index) override { return index == 0 ? pin_.get() : nullptr; }
    PushPin* output() { return pin_.get(); }

private:
    std::unique_ptr<PushPin> pin_;
};

inline constexpr CLSID CLSID_TestCounter = {0x7E57F11E, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};

// A streaming source: sample i holds bytes i, i+1, ... (mod 256); after `limit` samples (0: no
// limit) it ends the stream; `paceMs` waits between samples; `blockMs` makes the first fill wait.
class CounterStream final : public platform::SourceStream {
public:
    CounterStream(platform::BaseFilter* filter, LONG size, int limit)
        : SourceStream(filter, L"Output"), size_(size), limit_(limit) {}
    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return type.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    HRESULT getMediaType(int position, platform::MediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = platform::MediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
        return S_OK;
    }
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = 3;
        request->cbBuffer = size_;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }
    HRESULT fillSample(IMediaSample* sample) override
    {
        ++fillCalls;
        if (blockMs > 0 && !waitUnlessStopping(static_cast<DWORD>(blockMs.exchange(0))))
            return E_ABORT;
        if (limit_ > 0 && filled >= limit_)
            return failure != S_OK ? static_cast<HRESULT>(failure) : S_FALSE;
        if (paceMs > 0)
            waitUnlessStopping(static_cast<DWORD>(paceMs));
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        for (LONG i = 0; i < size_; ++i)
            data[i] = static_cast<BYTE>(filled + i);
        sample->SetActualDataLength(size_);
        ++filled;
        return S_OK;
    }
    HRESULT onThreadStart() override { ++threadsStarted; return S_OK; }
    void onThreadStop() override { ++threadsStopped; }

    std::atomic<int> fillCalls{0};
    std::atomic<int> filled{0};
    std::atomic<int> paceMs{0};
    std::atomic<int> blockMs{0};
    std::atomic<HRESULT> failure{S_OK};
    std::atomic<int> threadsStarted{0};
    std::atomic<int> threadsStopped{0};

private:
    LONG size_;
    int limit_;
};

class CounterSource final : public platform::SourceFilter {
public:
    explicit CounterSource(LONG size = 188, int limit = 0) : SourceFilter(CLSID_TestCounter)
    {
        stream_ = addPin<CounterStream>(this, size, limit);
        ++g_filtersAlive;
    }
    ~CounterSource() override { --g_filtersAlive; }
    CounterStream* output() { return stream_; }

private:
    CounterStream* stream_;
};

// Waits up to five seconds for a condition that another thread makes true.
template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 5000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

} // namespace mediatest
