// A source filter base whose output pins deliver samples on a streaming thread of their own
// (CSource / CSourceStream). The thread starts when the filter leaves Stopped (Pause or Run) and
// is stopped and joined when it stops; samples flow while paused and while running.
#pragma once

#include "platform/media/base_pins.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Fills `length` bytes with transport-stream null packets (PID 0x1FFF), the
// stuffing a source sends where it has no data; a last partial packet is cut.
void fillNullPackets(BYTE* data, LONG length);

class SourceStream : public BaseOutputPin {
public:
    SourceStream(BaseFilter* filter, const wchar_t* name);
    ~SourceStream() override; // the thread is stopped by then (the filter's Stop or last Release)

    // On the streaming thread, for each sample from the allocator: S_OK delivers it, S_FALSE ends
    // the stream (end of stream is delivered downstream), a failure ends it too and reports
    // EC_ERRORABORT. A blocking implementation waits with waitUnlessStopping.
    virtual HRESULT fillSample(IMediaSample* sample) = 0;
    // The sample that fillSample fills next: by default one from the allocator. A stream whose
    // bytes are in memory already may hand out samples of its own over them instead.
    virtual HRESULT nextSample(IMediaSample** sample) { return getDeliveryBuffer(sample, nullptr, nullptr, 0); }
    virtual HRESULT onThreadStart() { return S_OK; } // on the streaming thread, before the first sample
    virtual void onThreadStop() {}                   // on the streaming thread, after the last

    HRESULT active() override;   // commits the allocator and starts the thread
    HRESULT inactive() override; // asks the thread to stop, decommits, joins

    bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
    // Sleeps up to `milliseconds`; false when woken because the stream stops.
    bool waitUnlessStopping(DWORD milliseconds);

private:
    void threadMain();
    void stopThread();

    std::thread thread_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
};

// A filter owning its pins, typically SourceStream outputs (a capture filter may add input pins
// too). A delivery the downstream refuses (it stopped first, as the graph stops downstream
// filters first) ends the delivery quietly until the next Pause from Stopped. A SourceStream can
// also sit in any other BaseFilter: BaseFilter stops itself on its last Release.
class SourceFilter : public BaseFilter {
public:
    explicit SourceFilter(REFCLSID clsid, CRITICAL_SECTION* lock = nullptr);
    ~SourceFilter() override;

    int pinCount() override;
    BasePin* pin(int index) override;

protected:
    template <class Pin, class... Args>
    Pin* addPin(Args&&... args) // from the derived constructor
    {
        auto pin = std::make_unique<Pin>(std::forward<Args>(args)...);
        Pin* raw = pin.get();
        pins_.push_back(std::move(pin));
        return raw;
    }
private:
    std::vector<std::unique_ptr<BasePin>> pins_;
};

} // namespace platform
