#include "decoder/ts_input_filter.h"

#include <algorithm>

#include "decoder/decoder.h"
#include "decoder/receive_lock.h"

#include <new>

CRITICAL_SECTION& decoderReceiveLock()
{
    static CRITICAL_SECTION lock;
    return lock;
}

// ---- TSInputPin ----------------------------------------------------------------

TSInputPin::TSInputPin(TSInputFilter* filter) : BaseInputPin(filter, L"Input"), owner_(filter)
{
    setRenderer(true);
}

void TSInputPin::alignPackets(const uint8_t* data, long length, PacketCallback callback)
{
    aligner_.alignPackets(data, length, callback);
}

HRESULT TSInputPin::Receive(IMediaSample* sample)
{
    platform::CritSecLock lock(owner_->receiveLock());
    try {
        if (owner_->deliveryEnabled_.load(std::memory_order_relaxed) == 0) {
            Sleep(1);
            return S_OK;
        }
        if (owner_->resyncPending_.load(std::memory_order_relaxed) != 0) {
            aligner_.resync();
            owner_->resyncPending_.store(0, std::memory_order_relaxed);
            return S_OK;
        }
        HRESULT hr = checkStreaming();
        if (hr != S_OK)
            return hr;
        if (sample == nullptr)
            return E_FAIL;
        hr = receiveChecks(sample);
        if (hr != S_OK)
            return hr;
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        if (data == nullptr)
            return E_FAIL;
        // A driver may claim more data than its buffer holds: read no further than the buffer.
        const LONG length = std::min(sample->GetActualDataLength(), sample->GetSize());
        if (length <= 0)
            return S_OK;
        // One read: the window thread may clear the handler meanwhile.
        const PacketCallback callback = decoderState().packetCallback.load(std::memory_order_acquire);
        if (callback != nullptr)
            alignPackets(data, length, callback);
    } catch (...) {
        // A fault in decoding abandons the rest of this sample only; nothing
        // reaches the streaming thread of the upstream filter.
    }
    return S_OK;
}

HRESULT TSInputPin::EndOfStream()
{
    platform::CritSecLock lock(owner_->receiveLock());
    return BaseInputPin::EndOfStream();
}

HRESULT TSInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    platform::CritSecLock lock(owner_->receiveLock());
    return BaseInputPin::NewSegment(start, stop, rate);
}

HRESULT TSInputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

// ---- TSInputFilter ----------------------------------------------------------------

TSInputFilter::TSInputFilter(IUnknown*, HRESULT* result)
    : BaseFilter(CLSID_TSInputFilter, &filterLock_), decoderReceiveLock_(decoderReceiveLock())
{
    pin_.reset(new (std::nothrow) TSInputPin(this));
    if (result != nullptr)
        *result = pin_ ? S_OK : E_OUTOFMEMORY;
}

TSInputFilter::~TSInputFilter()
{
    pin_.reset();
}

void TSInputFilter::setDelivery(bool on)
{
    platform::CritSecLock lock(filterLock_);
    deliveryEnabled_.store(on ? 1 : 0, std::memory_order_relaxed);
    resyncPending_.store(1, std::memory_order_relaxed);
}

HRESULT TSInputFilter::Stop()
{
    platform::CritSecLock lock(filterLock_);
    setDelivery(false);
    return BaseFilter::Stop();
}

HRESULT TSInputFilter::Pause()
{
    platform::CritSecLock lock(filterLock_);
    setDelivery(false);
    return BaseFilter::Pause();
}

HRESULT TSInputFilter::Run(REFERENCE_TIME start)
{
    platform::CritSecLock lock(filterLock_);
    return BaseFilter::Run(start);
}

void TSInputFilter::registerClass()
{
    platform::registerClass(CLSID_TSInputFilter, [](REFIID riid, void** object) -> HRESULT {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        HRESULT result = S_OK;
        auto* filter = new (std::nothrow) TSInputFilter(nullptr, &result);
        if (filter == nullptr)
            return E_OUTOFMEMORY;
        filter->AddRef();
        if (SUCCEEDED(result))
            result = filter->QueryInterface(riid, object);
        filter->Release();
        return result;
    });
}
