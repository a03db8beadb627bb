#include "platform/media/base_pins.h"

#include "platform/media/allocator.h"

namespace platform {

// --- BaseInputPin

BaseInputPin::BaseInputPin(BaseFilter* filter, const wchar_t* name) : BasePin(filter, name, PINDIR_INPUT) {}

HRESULT BaseInputPin::QueryInterface(REFIID riid, void** object)
{
    if (object != nullptr && riid == IID_IMemInputPin) {
        *object = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return BasePin::QueryInterface(riid, object);
}

HRESULT BaseInputPin::GetAllocator(IMemAllocator** allocator)
{
    if (allocator == nullptr)
        return E_POINTER;
    CritSecLock lock(*filter_->filterLock());
    if (!allocator_) {
        const HRESULT hr = createMemAllocator(allocator_.put());
        if (FAILED(hr))
            return hr;
    }
    return allocator_.copyTo(allocator);
}

HRESULT BaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL)
{
    if (allocator == nullptr)
        return E_POINTER;
    CritSecLock lock(*filter_->filterLock());
    allocator_ = allocator;
    return S_OK;
}

HRESULT BaseInputPin::checkStreaming()
{
    if (!isConnected())
        return VFW_E_NOT_CONNECTED;
    if (filter_->isStopped())
        return VFW_E_WRONG_STATE;
    return flushing_.load(std::memory_order_acquire) ? S_FALSE : S_OK;
}

HRESULT BaseInputPin::receiveChecks(IMediaSample* sample)
{
    if (sample == nullptr)
        return E_POINTER;
    const HRESULT hr = checkStreaming();
    if (hr != S_OK)
        return hr;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
        HRESULT accepted = E_OUTOFMEMORY;
        try {
            accepted = checkMediaType(MediaType(*changed));
        } catch (...) {
        }
        DeleteMediaType(changed);
        if (accepted != S_OK)
            return VFW_E_INVALIDMEDIATYPE;
    }
    return S_OK;
}

HRESULT BaseInputPin::Receive(IMediaSample* sample) { return receiveChecks(sample); }

HRESULT BaseInputPin::BeginFlush()
{
    CritSecLock lock(*filter_->filterLock());
    flushing_.store(true, std::memory_order_release);
    return S_OK;
}

HRESULT BaseInputPin::EndFlush()
{
    CritSecLock lock(*filter_->filterLock());
    flushing_.store(false, std::memory_order_release);
    return S_OK;
}

HRESULT BaseInputPin::EndOfStream()
{
    const HRESULT hr = checkStreaming();
    if (hr != S_OK)
        return hr;
    if (renders_)
        filter_->notifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

HRESULT BaseInputPin::checkConnect(IPin* pin) { return BasePin::checkConnect(pin); }

HRESULT BaseInputPin::breakConnect()
{
    allocator_.reset();
    return S_OK;
}

HRESULT BaseInputPin::inactive()
{
    flushing_.store(false, std::memory_order_release);
    return allocator_ ? allocator_->Decommit() : S_OK; // a pin that never got samples has none
}

// --- BaseOutputPin

BaseOutputPin::BaseOutputPin(BaseFilter* filter, const wchar_t* name) : BasePin(filter, name, PINDIR_OUTPUT) {}

HRESULT BaseOutputPin::decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (request->cBuffers < 1)
        request->cBuffers = 1;
    if (request->cbBuffer < 1)
        request->cbBuffer = 1;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
}

HRESULT BaseOutputPin::decideAllocator(IMemInputPin* pin, ComPtr<IMemAllocator>* allocator)
{
    const ALLOCATOR_PROPERTIES request{0, 0, 1, 0}; // input pins here have no requirements

    // The input pin's allocator first, then one of our own.
    HRESULT hr = pin->GetAllocator(allocator->put());
    if (SUCCEEDED(hr) && *allocator) {
        ALLOCATOR_PROPERTIES props = request;
        hr = decideBufferSize(allocator->get(), &props);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(allocator->get(), FALSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
    }
    hr = createMemAllocator(allocator->put());
    if (FAILED(hr))
        return hr;
    ALLOCATOR_PROPERTIES props = request;
    hr = decideBufferSize(allocator->get(), &props);
    if (SUCCEEDED(hr))
        hr = pin->NotifyAllocator(allocator->get(), FALSE);
    if (FAILED(hr))
        allocator->reset();
    return hr;
}

HRESULT BaseOutputPin::checkConnect(IPin* pin)
{
    HRESULT hr = BasePin::checkConnect(pin);
    if (FAILED(hr))
        return hr;
    ComPtr<IMemInputPin> input;
    hr = pin->QueryInterface(IID_IMemInputPin, input.putVoid());
    if (FAILED(hr))
        return E_NOINTERFACE;
    memInputRef_ = input;
    return S_OK;
}

HRESULT BaseOutputPin::completeConnect(IPin*)
{
    const HRESULT hr = decideAllocator(memInputRef_.get(), &allocator_);
    if (FAILED(hr))
        return hr;
    memInput_.store(memInputRef_.get(), std::memory_order_release);
    return S_OK;
}

HRESULT BaseOutputPin::breakConnect()
{
    memInput_.store(nullptr, std::memory_order_release);
    if (allocator_) {
        allocator_->Decommit();
        allocator_.reset();
    }
    memInputRef_.reset();
    return S_OK;
}

HRESULT BaseOutputPin::active()
{
    if (!allocator_)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

HRESULT BaseOutputPin::inactive()
{
    if (!allocator_)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->Decommit();
}

HRESULT BaseOutputPin::getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                         DWORD flags)
{
    if (sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    if (!allocator_)
        return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, start, end, flags);
}

HRESULT BaseOutputPin::deliver(IMediaSample* sample)
{
    IMemInputPin* input = memInput_.load(std::memory_order_acquire);
    if (input == nullptr)
        return VFW_E_NOT_CONNECTED;
    return input->Receive(sample);
}

HRESULT BaseOutputPin::deliverEndOfStream()
{
    IPin* peer = connected();
    return peer != nullptr ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::deliverBeginFlush()
{
    IPin* peer = connected();
    return peer != nullptr ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::deliverEndFlush()
{
    IPin* peer = connected();
    return peer != nullptr ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

} // namespace platform
