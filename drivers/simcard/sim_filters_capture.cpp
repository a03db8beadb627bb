// The transport-stream capture filter: the card's stream, paced, in samples of varying sizes.
#include "drivers/simcard/sim_filters.h"

#include "drivers/simcard/traffic.h"
#include "platform/media/base_pins.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace simcard {

namespace {

constexpr LONG kLargestSample = 348 * 188; // about 64 KiB, as capture drivers hand them over
constexpr LONG kBufferCount = 4;

class SimCaptureFilter;

// The tuner's transport stream comes in here; in user mode nothing passes.
class SimCaptureInputPin final : public platform::BasePin {
public:
    explicit SimCaptureInputPin(platform::BaseFilter* filter) : BasePin(filter, L"MPEG2 Transport", PINDIR_INPUT) {}
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class SimCaptureOutputPin final : public platform::BaseOutputPin {
public:
    SimCaptureOutputPin(platform::BaseFilter* filter, std::shared_ptr<SimCard> card)
        : BaseOutputPin(filter, L"MPEG2 Transport Out"), card_(std::move(card))
    {
    }
    ~SimCaptureOutputPin() override { stopStreaming(); }

    HRESULT checkMediaType(const platform::MediaType& type) override
    {
        return type.majortype == MEDIATYPE_Stream || type.majortype == GUID_NULL ? S_OK : S_FALSE;
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
        if (request->cBuffers < kBufferCount)
            request->cBuffers = kBufferCount;
        if (request->cbBuffer < kLargestSample)
            request->cbBuffer = kLargestSample;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        return FAILED(hr) ? hr : actual.cbBuffer < 188 ? E_FAIL : S_OK;
    }
    HRESULT active() override
    {
        const HRESULT hr = BaseOutputPin::active();
        if (SUCCEEDED(hr))
            startStreaming();
        return hr;
    }
    HRESULT inactive() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        const HRESULT hr = BaseOutputPin::inactive(); // wakes a thread waiting for a buffer
        stopStreaming();
        return hr;
    }
    void stopStreaming()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
    }

private:
    void startStreaming()
    {
        stopStreaming();
        stop_ = false;
        thread_ = std::thread([this] { stream(); });
    }
    // Waits up to `d`; true when asked to stop.
    bool waitFor(std::chrono::nanoseconds d)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return wake_.wait_for(lock, d, [this] { return stop_; });
    }
    void stream()
    {
        TrafficSource traffic(card_->config.mac);
        if (!card_->config.streamFile.empty()) {
            std::string error;
            if (!traffic.openFile(card_->config.streamFile, card_->config.loop, &error))
                std::fprintf(stderr, "simcard: %s\n", error.c_str());
        }
        SamplePlan plan(static_cast<size_t>(kLargestSample));
        Pacer pacer(card_->config.rateKbps);
        bool flowing = false;
        bool ended = false;
        for (;;) {
            if (!flowing || ended) {
                if (waitFor(std::chrono::milliseconds(10)))
                    return;
            }
            const bool canFlow = filter()->state() == State_Running && card_->frontend.locked();
            if (!canFlow) {
                flowing = false;
                continue;
            }
            if (!flowing) {
                flowing = true;
                pacer.restart();
            }
            if (ended)
                continue;
            ComPtr<IMediaSample> sample;
            if (FAILED(getDeliveryBuffer(sample.put(), nullptr, nullptr, 0)) || !sample) {
                if (waitFor(std::chrono::milliseconds(10)))
                    return;
                continue;
            }
            BYTE* data = nullptr;
            if (FAILED(sample->GetPointer(&data)) || !data)
                continue;
            const size_t wanted = std::min(plan.next(), static_cast<size_t>(sample->GetSize()));
            if (waitFor(pacer.delayBefore(wanted)))
                return;
            const size_t got = traffic.read(data, wanted);
            if (got == 0) {
                ended = true; // a file played once
                deliverEndOfStream();
                continue;
            }
            sample->SetActualDataLength(static_cast<LONG>(got));
            deliver(sample.get());
        }
    }

    std::shared_ptr<SimCard> card_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

class SimCaptureFilter final : public platform::BaseFilter {
public:
    explicit SimCaptureFilter(std::shared_ptr<SimCard> card)
        : BaseFilter(CLSID_SimCapture), input_(this), output_(this, std::move(card))
    {
    }
    int pinCount() override { return 2; }
    platform::BasePin* pin(int index) override
    {
        return index == 0 ? static_cast<platform::BasePin*>(&input_) : index == 1 ? &output_ : nullptr;
    }

protected:
    // The streaming thread goes before any part of the filter does.
    void finalRelease() override { output_.stopStreaming(); }

private:
    SimCaptureInputPin input_;
    SimCaptureOutputPin output_;
};

} // namespace

HRESULT createSimCaptureFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object)
{
    if (!card)
        return E_INVALIDARG;
    return platform::createObject<SimCaptureFilter>(riid, object, card);
}

} // namespace simcard
