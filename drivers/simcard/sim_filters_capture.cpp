// The transport-stream capture filter: the card's stream, paced, in samples of varying sizes.
#include "drivers/simcard/sim_filters.h"

#include "drivers/simcard/traffic.h"
#include "platform/media/source_filter.h"

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>

namespace simcard {

namespace {

constexpr DWORD kAcquisitionMs = 100; // from lock to the first packets


constexpr LONG kLargestSample = 348 * 188; // about 64 KiB, as capture drivers hand them over
constexpr LONG kBufferCount = 4;

// The tuner's transport stream comes in here; in user mode nothing passes.
class SimCaptureInputPin final : public platform::BasePin {
public:
    explicit SimCaptureInputPin(platform::BaseFilter* filter) : BasePin(filter, L"MPEG2 Transport", PINDIR_INPUT) {}
    HRESULT checkMediaType(const platform::MediaType&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
};

class SimCaptureOutputPin final : public platform::SourceStream {
public:
    SimCaptureOutputPin(platform::BaseFilter* filter, std::shared_ptr<SimCard> card)
        : SourceStream(filter, L"MPEG2 Transport Out"), card_(std::move(card)),
          plan_(static_cast<size_t>(kLargestSample)), pacer_(card_->config.rateKbps)
    {
    }

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

    // The stream goes on across stops: a retune does not restart a file.
    HRESULT onThreadStart() override
    {
        if (!traffic_) {
            traffic_ = std::make_unique<TrafficSource>(card_->config.mac);
            std::string error;
            if (!card_->config.streamFile.empty() &&
                !traffic_->openFile(card_->config.streamFile, card_->config.loop, &error))
                std::fprintf(stderr, "simcard: %s\n", error.c_str());
        }
        flowing_ = false;
        return S_OK;
    }

    // Nothing comes out until the graph runs and the tuner locks; then paced, in varying sizes.
    HRESULT fillSample(IMediaSample* sample) override
    {
        while (filter()->state() != State_Running || !card_->frontend.locked()) {
            if (!card_->present.load())
                return S_FALSE; // pulled out: the stream ends
            flowing_ = false;
            if (!waitUnlessStopping(10))
                return S_FALSE;
        }
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || data == nullptr)
            return E_POINTER;
        if (!flowing_) {
            // As a demodulator does: it takes a moment to acquire, and what comes
            // out first is stuffing, not the multiplex (a receiver that drops the
            // first sample after a retune loses nothing of a file played once).
            flowing_ = true;
            if (!waitUnlessStopping(kAcquisitionMs))
                return S_FALSE;
            pacer_.restart();
            const LONG bytes = std::min<LONG>(sample->GetSize() / 188, 8) * 188;
            platform::fillNullPackets(data, bytes);
            sample->SetActualDataLength(bytes);
            return S_OK;
        }
        const size_t wanted = std::min(plan_.next(), static_cast<size_t>(sample->GetSize()));
        const auto delay = std::chrono::ceil<std::chrono::milliseconds>(pacer_.delayBefore(wanted)).count();
        if (delay > 0 && !waitUnlessStopping(static_cast<DWORD>(delay)))
            return S_FALSE;
        if (!card_->present.load())
            return S_FALSE;
        const size_t got = traffic_->read(data, wanted);
        if (got == 0)
            return S_FALSE; // a file played once has ended
        sample->SetActualDataLength(static_cast<LONG>(got));
        return S_OK;
    }

private:
    std::shared_ptr<SimCard> card_;
    std::unique_ptr<TrafficSource> traffic_;
    SamplePlan plan_;
    Pacer pacer_;
    bool flowing_ = false;
};

class SimCaptureFilter final : public platform::SourceFilter {
public:
    explicit SimCaptureFilter(std::shared_ptr<SimCard> card) : SourceFilter(CLSID_SimCapture), input_(this)
    {
        addPin<SimCaptureOutputPin>(this, std::move(card));
    }
    // The tuner's input comes first, then the streaming output.
    int pinCount() override { return 1 + SourceFilter::pinCount(); }
    platform::BasePin* pin(int index) override
    {
        return index == 0 ? &input_ : SourceFilter::pin(index - 1);
    }

private:
    SimCaptureInputPin input_;
};

} // namespace

HRESULT createSimCaptureFilter(const std::shared_ptr<SimCard>& card, REFIID riid, void** object)
{
    if (!card)
        return E_INVALIDARG;
    return platform::createObject<SimCaptureFilter>(riid, object, card);
}

} // namespace simcard
