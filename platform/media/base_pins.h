// Input and output pin bases (CBaseInputPin, CBaseOutputPin).
#pragma once

#include "platform/media/base_filter.h"

namespace platform {

class BaseInputPin : public BasePin, public IMemInputPin {
public:
    BaseInputPin(BaseFilter* filter, const wchar_t* name);

    HRESULT QueryInterface(REFIID riid, void** object) override; // IUnknown, IPin, IMemInputPin
    ULONG AddRef() override { return BasePin::AddRef(); }
    ULONG Release() override { return BasePin::Release(); }

    // IMemInputPin. Receive is the standard checks only; a derived pin calls it first.
    HRESULT GetAllocator(IMemAllocator** allocator) override; // a MemAllocator unless one was notified
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveCanBlock() override { return S_OK; }

    // IPin
    HRESULT BeginFlush() override; // receive answers S_FALSE until EndFlush
    HRESULT EndFlush() override;
    HRESULT EndOfStream() override; // a rendering pin reports EC_COMPLETE to the graph

    // Not connected VFW_E_NOT_CONNECTED; stopped VFW_E_WRONG_STATE; flushing S_FALSE; otherwise
    // S_OK. Any thread.
    HRESULT checkStreaming();
    // checkStreaming, then a media type carried by the sample must be acceptable
    // (VFW_E_INVALIDMEDIATYPE); null sample E_POINTER.
    HRESULT receiveChecks(IMediaSample* sample);
    bool isFlushing() const { return flushing_.load(std::memory_order_acquire); }

    HRESULT checkConnect(IPin* pin) override;
    HRESULT breakConnect() override;  // drops the allocator
    HRESULT inactive() override;      // clears flushing, decommits

protected:
    void setRenderer(bool renders) { renders_ = renders; } // a sink: EndOfStream reports EC_COMPLETE

    ComPtr<IMemAllocator> allocator_; // GUI thread

private:
    std::atomic<bool> flushing_{false};
    bool renders_ = false;
};

class BaseOutputPin : public BasePin {
public:
    BaseOutputPin(BaseFilter* filter, const wchar_t* name);

    // An output pin neither flushes nor ends a stream on request of its peer.
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    // Hooks: the buffers wanted (request holds the input pin's requirements; call SetProperties).
    virtual HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request);
    virtual HRESULT decideAllocator(IMemInputPin* pin, ComPtr<IMemAllocator>* allocator);

    // Streaming (the streaming thread): VFW_E_NOT_CONNECTED without a peer.
    HRESULT getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
    HRESULT deliver(IMediaSample* sample);
    HRESULT deliverEndOfStream();
    HRESULT deliverBeginFlush();
    HRESULT deliverEndFlush();

    HRESULT checkConnect(IPin* pin) override;         // the peer must be an IMemInputPin
    HRESULT completeConnect(IPin* receivePin) override; // decideAllocator
    HRESULT breakConnect() override;                  // decommits and drops the allocator
    HRESULT active() override;                        // commits the allocator
    HRESULT inactive() override;                      // decommits it
    IMemAllocator* allocator() const { return allocator_.get(); }

protected:
    ComPtr<IMemAllocator> allocator_;
    ComPtr<IMemInputPin> memInputRef_;

private:
    std::atomic<IMemInputPin*> memInput_{nullptr};
};

} // namespace platform
