// The simulated card's transport stream, paced, in samples of varying sizes.
#include "drivers/simcard/sim_card.h"

#include "drivers/simcard/traffic.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace simcard {

namespace {

constexpr DWORD kAcquisitionMs = 100; // from lock to the first packets
constexpr LONG kLargestSample = 348 * 188; // about 64 KiB, as capture drivers hand them over

class SimCaptureStream final : public cardfilters::CaptureStream {
public:
    SimCaptureStream(platform::BaseFilter* filter, std::shared_ptr<SimCard> card)
        : CaptureStream(filter, kLargestSample), card_(std::move(card)),
          plan_(static_cast<size_t>(kLargestSample)), pacer_(card_->config.rateKbps)
    {
    }

    // The stream goes on across stops: a retune does not restart a file.
    HRESULT onThreadStart() override
    {
        if (traffic_.empty()) {
            const SimConfig& config = card_->config;
            std::vector<std::string> files;
            for (const SimStream& stream : config.streams)
                files.push_back(stream.file);
            if (files.empty())
                files.push_back(config.streamFile);
            for (const std::string& file : files) {
                traffic_.push_back(std::make_unique<TrafficSource>(config.mac));
                std::string error;
                if (!file.empty() && !traffic_.back()->openFile(file, config.loop, &error))
                    std::fprintf(stderr, "simcard: %s\n", error.c_str());
            }
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
        // Each input stream goes on where it was: a recording's streams run side by side.
        const int stream = card_->frontend.selectedStream();
        if (stream < 0 || static_cast<size_t>(stream) >= traffic_.size()) {
            // Retuned away between the lock check and here: stuffing, as while acquiring.
            const LONG bytes = std::min<LONG>(sample->GetSize() / 188, 8) * 188;
            platform::fillNullPackets(data, bytes);
            sample->SetActualDataLength(bytes);
            return S_OK;
        }
        const size_t got = traffic_[static_cast<size_t>(stream)]->read(data, wanted);
        if (got == 0)
            return S_FALSE; // a file played once has ended
        sample->SetActualDataLength(static_cast<LONG>(got));
        return S_OK;
    }

private:
    std::shared_ptr<SimCard> card_;
    std::vector<std::unique_ptr<TrafficSource>> traffic_; // one per input stream
    SamplePlan plan_;
    Pacer pacer_;
    bool flowing_ = false;
};

} // namespace

std::unique_ptr<cardfilters::CaptureStream> SimCard::createCaptureStream(platform::BaseFilter* filter)
{
    return std::make_unique<SimCaptureStream>(filter, std::static_pointer_cast<SimCard>(shared_from_this()));
}

} // namespace simcard
