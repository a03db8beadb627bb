// The filter base and the pin base with DirectShow's standard behaviour (CBaseFilter, CBasePin).
// Pins belong to their filter and count references on it. State changes, connections and
// flushing come from the GUI thread under the filter lock; what the streaming thread reads
// (state, connection, flushing) is atomic, and it never takes a filter lock.
#pragma once

#include "platform/media/graph.h"
#include "platform/win32/sync.h"

#include <atomic>
#include <string>

namespace platform {

class BasePin;

class BaseFilter : public ComObject<IBaseFilter> {
public:
    // `lock`: the filter lock, a derived filter's critical section; null uses one of the base's own.
    explicit BaseFilter(REFCLSID clsid, CRITICAL_SECTION* lock = nullptr);
    ~BaseFilter() override;

    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;  // inactive() on every connected pin, state Stopped
    HRESULT Pause() override; // from Stopped: active() on every connected pin
    HRESULT Run(REFERENCE_TIME start) override; // from Stopped: Pause first
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override; // by pin name; VFW_E_NOT_FOUND
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

    // The pins, asked under the filter lock.
    virtual int pinCount() = 0;
    virtual BasePin* pin(int index) = 0;

    CRITICAL_SECTION* filterLock() const { return lock_; }
    FILTER_STATE state() const { return state_.load(std::memory_order_acquire); }
    bool isStopped() const { return state() == State_Stopped; }
    IFilterGraph* graph() const { return graph_; } // not AddRef'ed; GUI thread
    const std::wstring& name() const { return name_; }
    // Reports to the graph (any thread). EC_COMPLETE without a filter gets this one.
    HRESULT notifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

protected:
    void setState(FILTER_STATE state) { state_.store(state, std::memory_order_release); }
    // The last Release of a filter that is not stopped stops it (through the virtual Stop, while
    // the derived filter still exists), so that no streaming thread outlives its filter.
    void finalRelease() override;

private:
    CLSID clsid_;
    CRITICAL_SECTION ownLock_;
    CRITICAL_SECTION* lock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IFilterGraph* graph_ = nullptr;
    std::atomic<IMediaEventSink*> sink_{nullptr}; // the graph's, not AddRef'ed (as DirectShow)
    std::wstring name_;
};

class BasePin : public IPin {
public:
    BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction);
    ~BasePin() override;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    // Out of line: inlined, GCC mistakes the filter's deletion through a pin for a bad free.
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect() override; // VFW_E_NOT_STOPPED while active; S_FALSE when not connected
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override; // getMediaType 0, 1, ...
    HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override { (void)pins; (void)count; return E_NOTIMPL; }
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; } // no timing here

    // Hooks of derived pins (under the filter lock).
    virtual HRESULT checkMediaType(const MediaType& type) = 0;   // S_OK accepts
    virtual HRESULT getMediaType(int position, MediaType* type); // preferred types; VFW_S_NO_MORE_ITEMS
    virtual HRESULT setMediaType(const MediaType& type);         // the agreed type
    virtual HRESULT checkConnect(IPin* pin);                     // opposite direction
    virtual HRESULT completeConnect(IPin* receivePin) { (void)receivePin; return S_OK; }
    virtual HRESULT breakConnect() { return S_OK; }
    virtual HRESULT active() { return S_OK; }   // the filter leaves Stopped
    virtual HRESULT inactive() { return S_OK; } // the filter stops

    bool isConnected() const { return peer_.load(std::memory_order_acquire) != nullptr; }
    IPin* connected() const { return peer_.load(std::memory_order_acquire); } // not AddRef'ed
    const MediaType& mediaType() const { return type_; }
    const std::wstring& name() const { return name_; }
    PIN_DIRECTION direction() const { return direction_; }
    BaseFilter* filter() const { return filter_; }

protected:
    virtual void* queryExtra(REFIID) { return nullptr; } // further interfaces, not AddRef'ed
    IUnknown* identity() { return static_cast<IPin*>(this); }

    BaseFilter* const filter_;
    const std::wstring name_;
    const PIN_DIRECTION direction_;

private:
    HRESULT agreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* partial);
    HRESULT tryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);
    HRESULT attemptConnection(IPin* receivePin, const MediaType& type);
    void setPeer(IPin* pin);

    ComPtr<IPin> connectedRef_;
    std::atomic<IPin*> peer_{nullptr};
    MediaType type_;
};

// Copies a name into a fixed WCHAR array, cut to fit and terminated.
void copyName(WCHAR* target, size_t capacity, const std::wstring& name);

} // namespace platform
