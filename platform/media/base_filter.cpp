#include "platform/media/base_filter.h"

#include "platform/media/enumerators.h"

#include <cstring>
#include <cwchar>

namespace platform {

void copyName(WCHAR* target, size_t capacity, const std::wstring& name)
{
    if (target == nullptr || capacity == 0)
        return;
    const size_t n = name.size() < capacity - 1 ? name.size() : capacity - 1;
    std::wmemcpy(target, name.data(), n);
    target[n] = L'\0';
}

// --- BaseFilter

BaseFilter::BaseFilter(REFCLSID clsid, CRITICAL_SECTION* lock) : clsid_(clsid), lock_(lock ? lock : &ownLock_)
{
    InitializeCriticalSection(&ownLock_);
}

BaseFilter::~BaseFilter() { DeleteCriticalSection(&ownLock_); }

void BaseFilter::finalRelease()
{
    if (!isStopped())
        Stop();
}

HRESULT BaseFilter::GetClassID(CLSID* clsid)
{
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT BaseFilter::Stop()
{
    CritSecLock lock(*lock_);
    HRESULT result = S_OK;
    if (state() != State_Stopped) {
        setState(State_Stopped); // receive checks refuse samples from now on
        for (int i = 0, n = pinCount(); i < n; ++i) {
            BasePin* p = pin(i);
            if (p != nullptr && p->isConnected()) {
                const HRESULT hr = p->inactive();
                if (FAILED(hr) && SUCCEEDED(result))
                    result = hr;
            }
        }
    }
    return result;
}

HRESULT BaseFilter::Pause()
{
    CritSecLock lock(*lock_);
    if (state() == State_Stopped) {
        for (int i = 0, n = pinCount(); i < n; ++i) {
            BasePin* p = pin(i);
            if (p != nullptr && p->isConnected()) {
                const HRESULT hr = p->active();
                if (FAILED(hr)) { // the pins made active so far go back: the filter stays stopped
                    for (int j = 0; j < i; ++j)
                        if (BasePin* q = pin(j); q != nullptr && q->isConnected())
                            q->inactive();
                    return hr;
                }
            }
        }
    }
    setState(State_Paused);
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME)
{
    CritSecLock lock(*lock_);
    if (state() == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    setState(State_Running);
    return S_OK;
}

HRESULT BaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (state == nullptr)
        return E_POINTER;
    *state = this->state();
    return S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins)
{
    if (pins == nullptr)
        return E_POINTER;
    *pins = nullptr;
    try {
        std::vector<ComPtr<IPin>> list;
        {
            CritSecLock lock(*lock_);
            for (int i = 0, n = pinCount(); i < n; ++i)
                if (BasePin* p = pin(i))
                    list.emplace_back(static_cast<IPin*>(p));
        }
        return createObject<PinEnum>(IID_IEnumPins, reinterpret_cast<void**>(pins), std::move(list));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** found)
{
    if (id == nullptr || found == nullptr)
        return E_POINTER;
    *found = nullptr;
    CritSecLock lock(*lock_);
    for (int i = 0, n = pinCount(); i < n; ++i) {
        BasePin* p = pin(i);
        if (p != nullptr && p->name() == id) {
            *found = p;
            p->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    CritSecLock lock(*lock_);
    copyName(info->achName, MAX_FILTER_NAME, name_);
    info->pGraph = graph_;
    if (graph_ != nullptr)
        graph_->AddRef();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    CritSecLock lock(*lock_);
    try {
        name_ = (graph != nullptr && name != nullptr) ? name : L"";
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    graph_ = graph;
    IMediaEventSink* sink = nullptr;
    if (graph != nullptr && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))))
        sink->Release(); // kept without a reference: the graph outlives its membership
    sink_.store(sink, std::memory_order_release);
    return S_OK;
}

HRESULT BaseFilter::notifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    IMediaEventSink* sink = sink_.load(std::memory_order_acquire);
    if (sink == nullptr)
        return E_NOTIMPL;
    if (code == EC_COMPLETE && param2 == 0)
        param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}

// --- BasePin

ULONG BasePin::AddRef() { return filter_->AddRef(); }
ULONG BasePin::Release() { return filter_->Release(); }

BasePin::BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
    : filter_(filter), name_(name != nullptr ? name : L""), direction_(direction) {}

BasePin::~BasePin() = default;

HRESULT BasePin::QueryInterface(REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    void* p = nullptr;
    if (riid == IID_IUnknown)
        p = identity();
    else if (riid == IID_IPin)
        p = static_cast<IPin*>(this);
    else
        p = queryExtra(riid);
    *object = p;
    if (p == nullptr)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

void BasePin::setPeer(IPin* pin)
{
    connectedRef_ = pin;
    peer_.store(pin, std::memory_order_release);
}

HRESULT BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (receivePin == nullptr)
        return E_POINTER;
    CritSecLock lock(*filter_->filterLock());
    if (isConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->isStopped())
        return VFW_E_NOT_STOPPED;
    try {
        return agreeMediaType(receivePin, type);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT BasePin::agreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* partial)
{
    if (partial != nullptr && !MediaType(*partial).isPartiallySpecified())
        return attemptConnection(receivePin, MediaType(*partial));

    // The receiving pin's types first, then this pin's own (DirectShow's default order).
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int round = 0; round < 2; ++round) {
        ComPtr<IEnumMediaTypes> types;
        IPin* pin = round == 0 ? receivePin : static_cast<IPin*>(this);
        if (FAILED(pin->EnumMediaTypes(types.put())) || !types)
            continue;
        const HRESULT hr = tryMediaTypes(receivePin, partial, types.get());
        if (SUCCEEDED(hr))
            return S_OK;
        if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED && hr != VFW_E_NO_ACCEPTABLE_TYPES)
            failure = hr; // a specific failure says more than "no type"
    }
    return failure;
}

HRESULT BasePin::tryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types)
{
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* next = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &next, &fetched) != S_OK || fetched != 1 || next == nullptr)
            break;
        MediaType candidate(*next);
        DeleteMediaType(next);
        if (!candidate.matchesPartial(partial))
            continue;
        const HRESULT hr = attemptConnection(receivePin, candidate);
        if (SUCCEEDED(hr))
            return S_OK;
        failure = hr;
    }
    return failure;
}

HRESULT BasePin::attemptConnection(IPin* receivePin, const MediaType& type)
{
    HRESULT hr = checkConnect(receivePin);
    if (FAILED(hr)) {
        breakConnect();
        return hr;
    }
    hr = checkMediaType(type);
    if (hr != S_OK) {
        breakConnect();
        return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    setPeer(receivePin);
    hr = setMediaType(type);
    if (SUCCEEDED(hr)) {
        hr = receivePin->ReceiveConnection(this, &type);
        if (SUCCEEDED(hr)) {
            hr = completeConnect(receivePin);
            if (SUCCEEDED(hr))
                return S_OK;
            receivePin->Disconnect();
        }
    }
    setPeer(nullptr);
    type_.clear();
    breakConnect();
    return hr == S_FALSE || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}

HRESULT BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (connector == nullptr || type == nullptr)
        return E_POINTER;
    CritSecLock lock(*filter_->filterLock());
    if (isConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!filter_->isStopped())
        return VFW_E_NOT_STOPPED;
    try {
        HRESULT hr = checkConnect(connector);
        if (FAILED(hr)) {
            breakConnect();
            return hr;
        }
        MediaType offered(*type);
        hr = checkMediaType(offered);
        if (hr != S_OK) {
            breakConnect();
            return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
        }
        setPeer(connector);
        hr = setMediaType(offered);
        if (SUCCEEDED(hr))
            hr = completeConnect(connector);
        if (FAILED(hr)) {
            setPeer(nullptr);
            type_.clear();
            breakConnect();
            return hr;
        }
        return S_OK;
    } catch (...) {
        setPeer(nullptr);
        return E_OUTOFMEMORY;
    }
}

HRESULT BasePin::Disconnect()
{
    ComPtr<IPin> old; // released after the lock: it may be the last reference on the peer
    CritSecLock lock(*filter_->filterLock());
    if (!filter_->isStopped())
        return VFW_E_NOT_STOPPED;
    if (!isConnected())
        return S_FALSE;
    const HRESULT hr = breakConnect();
    if (FAILED(hr))
        return hr;
    old = connectedRef_;
    setPeer(nullptr);
    type_.clear();
    return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin)
{
    if (pin == nullptr)
        return E_POINTER;
    CritSecLock lock(*filter_->filterLock());
    if (!isConnected()) {
        *pin = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    return connectedRef_.copyTo(pin);
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = direction_;
    copyName(info->achName, MAX_PIN_NAME, name_);
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (direction == nullptr)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** types)
{
    if (types == nullptr)
        return E_POINTER;
    *types = nullptr;
    try {
        std::vector<MediaType> list;
        {
            CritSecLock lock(*filter_->filterLock());
            for (int i = 0;; ++i) {
                MediaType type;
                if (getMediaType(i, &type) != S_OK)
                    break;
                list.push_back(type);
            }
        }
        return createObject<MediaTypeEnum>(IID_IEnumMediaTypes, reinterpret_cast<void**>(types), std::move(list));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT BasePin::getMediaType(int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT BasePin::setMediaType(const MediaType& type)
{
    type_ = type;
    return S_OK;
}

HRESULT BasePin::checkConnect(IPin* pin)
{
    PIN_DIRECTION other;
    const HRESULT hr = pin->QueryDirection(&other);
    if (FAILED(hr))
        return hr;
    return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

} // namespace platform
