// The adapter's multiplex from the frontend's dvr, on the capture filter's streaming thread.
#include "drivers/linuxdvb/dvb_filters.h"

#include "platform/win32/debug.h"

#include <chrono>
#include <vector>

namespace linuxdvb {

namespace {

// Large reads: the kernel hands out what has gathered since the last one.
constexpr LONG kReadSize = 128 * 1024;
constexpr int kWaitMs = 100;
constexpr auto kRefilterEvery = std::chrono::seconds(1);
constexpr size_t kMaxWantedPids = 32;

class DvbCaptureStream final : public cardfilters::CaptureStream {
public:
    DvbCaptureStream(platform::BaseFilter* filter, std::shared_ptr<DvbFilterCard> card)
        : CaptureStream(filter, kReadSize), card_(std::move(card))
    {
    }

    HRESULT onThreadStart() override
    {
        uint16_t pids[kMaxWantedPids];
        const size_t count = card_->wantedPids(pids, kMaxWantedPids);
        std::string error;
        started_ = card_->device().stream().start(std::vector<uint16_t>(pids, pids + count), &error);
        if (!started_) {
            OutputDebugStringA(("linuxdvb: " + error + "\n").c_str());
            card_->setVanished(true);
        } else {
            card_->setVanished(false);
        }
        lastRefilter_ = std::chrono::steady_clock::now();
        return S_OK;
    }
    void onThreadStop() override { card_->device().stream().stop(); }

    // What the adapter delivers, as it comes; while paused the kernel keeps it.
    // A vanished device ends the stream.
    HRESULT fillSample(IMediaSample* sample) override
    {
        if (!started_)
            return S_FALSE;
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || data == nullptr || sample->GetSize() <= 0)
            return E_POINTER;
        const size_t capacity = static_cast<size_t>(sample->GetSize());
        DvbStream& stream = card_->device().stream();
        while (!stopRequested()) {
            refilterNow(stream);
            if (filter()->state() != State_Running) {
                waitUnlessStopping(10);
                continue;
            }
            size_t count = 0;
            switch (stream.read(data, capacity, &count, kWaitMs)) {
            case DvbStream::ReadResult::Data:
                sample->SetActualDataLength(static_cast<LONG>(count));
                return S_OK;
            case DvbStream::ReadResult::Timeout:
                continue;
            case DvbStream::ReadResult::Ended:
                card_->setVanished(true);
                return S_FALSE;
            }
        }
        return S_FALSE;
    }

private:
    void refilterNow(DvbStream& stream)
    {
        if (stream.wholeMultiplex())
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRefilter_ < kRefilterEvery)
            return;
        lastRefilter_ = now;
        uint16_t pids[kMaxWantedPids];
        stream.refilter(pids, card_->wantedPids(pids, kMaxWantedPids));
    }

    std::shared_ptr<DvbFilterCard> card_;
    bool started_ = false;
    std::chrono::steady_clock::time_point lastRefilter_;
};

} // namespace

std::unique_ptr<cardfilters::CaptureStream> DvbFilterCard::createCaptureStream(platform::BaseFilter* filter)
{
    return std::make_unique<DvbCaptureStream>(filter, std::static_pointer_cast<DvbFilterCard>(shared_from_this()));
}

} // namespace linuxdvb
