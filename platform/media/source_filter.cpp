#include "platform/media/source_filter.h"

#include <algorithm>
#include <cstring>

#include <chrono>

namespace platform {

void fillNullPackets(BYTE* data, LONG length)
{
    static const BYTE kNullHeader[4] = {0x47, 0x1F, 0xFF, 0x10};
    std::memset(data, 0xFF, static_cast<size_t>(length));
    for (LONG at = 0; at < length; at += 188)
        std::memcpy(data + at, kNullHeader, static_cast<size_t>(std::min<LONG>(4, length - at)));
}

SourceStream::SourceStream(BaseFilter* filter, const wchar_t* name) : BaseOutputPin(filter, name) {}

SourceStream::~SourceStream() { stopThread(); }

HRESULT SourceStream::active()
{
    HRESULT hr = BaseOutputPin::active();
    if (FAILED(hr))
        return hr;
    stopThread(); // a stream that ended by itself leaves a finished thread to join
    stop_.store(false, std::memory_order_release);
    try {
        thread_ = std::thread(&SourceStream::threadMain, this);
    } catch (...) {
        BaseOutputPin::inactive();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SourceStream::inactive()
{
    {
        std::lock_guard<std::mutex> lock(wakeLock_);
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    const HRESULT hr = BaseOutputPin::inactive(); // a GetBuffer waiting on the thread returns
    stopThread();
    return hr;
}

void SourceStream::stopThread()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(wakeLock_);
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // stopped from its own thread: it ends when it returns there
    else
        thread_.join();
}

bool SourceStream::waitUnlessStopping(DWORD milliseconds)
{
    std::unique_lock<std::mutex> lock(wakeLock_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopRequested(); });
}

void SourceStream::threadMain()
{
    HRESULT hr = S_OK;
    try {
        hr = onThreadStart();
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    if (FAILED(hr)) {
        filter_->notifyEvent(EC_ERRORABORT, hr, 0);
        return;
    }
    while (!stopRequested()) {
        ComPtr<IMediaSample> sample;
        HRESULT got = E_UNEXPECTED;
        try {
            got = nextSample(sample.put());
        } catch (...) {
        }
        if (FAILED(got))
            break; // decommitted: the filter stops
        try {
            hr = fillSample(sample.get());
        } catch (...) {
            hr = E_UNEXPECTED;
        }
        if (stopRequested())
            break;
        if (hr == S_OK) {
            hr = deliver(sample.get());
            if (hr == S_OK || hr == S_FALSE) // S_FALSE: the downstream flushes, the sample is dropped
                continue;
            break; // refused: the downstream stopped or failed
        }
        sample.reset();
        // The abort goes first: the end of stream below lets a renderer complete the run,
        // and the graph keeps only the first of the two, so a failed read would pass as
        // the end of the input.
        if (FAILED(hr))
            filter_->notifyEvent(EC_ERRORABORT, hr, 0);
        deliverEndOfStream();
        break;
    }
    try {
        onThreadStop();
    } catch (...) {
    }
}

SourceFilter::SourceFilter(REFCLSID clsid, CRITICAL_SECTION* lock) : BaseFilter(clsid, lock) {}

SourceFilter::~SourceFilter() = default;

int SourceFilter::pinCount() { return static_cast<int>(pins_.size()); }

BasePin* SourceFilter::pin(int index)
{
    return index >= 0 && index < pinCount() ? pins_[static_cast<size_t>(index)].get() : nullptr;
}

} // namespace platform
