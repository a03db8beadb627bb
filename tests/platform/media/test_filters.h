// Small filters for the media tests: a sink that counts what it receives and a source whose
// output pin the test drives by hand.
#pragma once

#include "platform/media/allocator.h"
#include "platform/media/base_pins.h"

#include <atomic>
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
    SinkPin(SinkFilter* filter, const GUID& accepted);
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
        std::lock_guard<std::mutex> lock(mutex);
        bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
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

    std::mutex mutex;
    std::vector<BYTE> bytes;
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

inline SinkPin::SinkPin(SinkFilter* filter, const GUID& accepted)
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

} // namespace mediatest
