#include "platform/media/filter_graph.h"

#include "platform/media/enumerators.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace platform {

namespace {

// Pins of a filter, AddRef'ed.
std::vector<ComPtr<IPin>> pinsOf(IBaseFilter* filter)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (FAILED(filter->EnumPins(e.put())) || !e)
        return pins;
    for (;;) {
        ComPtr<IPin> pin;
        ULONG fetched = 0;
        if (e->Next(1, pin.put(), &fetched) != S_OK || fetched != 1)
            break;
        pins.push_back(pin);
    }
    return pins;
}

ComPtr<IBaseFilter> filterOf(IPin* pin)
{
    PIN_INFO info{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&info)))
        return nullptr;
    return ComPtr<IBaseFilter>::adopt(info.pFilter);
}

PIN_DIRECTION directionOf(IPin* pin)
{
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    return direction;
}

class FilterGraph final : public ComObject<IGraphBuilder, IMediaControl, IMediaEventSink, IMediaEvent> {
public:
    ~FilterGraph() override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** filters) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    // IGraphBuilder
    HRESULT Connect(IPin* out, IPin* in) override;
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    // IMediaEventSink
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    // IMediaEvent
    HRESULT WaitForCompletion(LONG milliseconds, LONG* code) override;

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::wstring name;
    };

    IFilterGraph* self() { return static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)); }
    bool contains(IBaseFilter* filter) const;
    std::vector<IBaseFilter*> downstreamFirst();
    HRESULT pauseAll();
    HRESULT stopAll();
    void startCompletion(); // a new run: forget earlier completions
    void removeEntry(size_t index);

    std::recursive_mutex lock_; // the GUI side: membership, connections, state
    std::vector<Entry> filters_;
    FILTER_STATE state_ = State_Stopped;

    std::mutex eventLock_; // the streaming side reports here; never held while calling a filter
    std::condition_variable eventSignal_;
    std::set<LONG_PTR> completed_;
    size_t renderers_ = 0;
    LONG completion_ = 0; // EC_COMPLETE or EC_ERRORABORT once it happened
};

FilterGraph::~FilterGraph()
{
    // Torn down while running: stop (streaming threads are joined), then take the graph apart.
    std::lock_guard<std::recursive_mutex> lock(lock_);
    stopAll();
    while (!filters_.empty()) {
        try {
            removeEntry(filters_.size() - 1);
        } catch (...) { // out of memory listing pins: the filter is at least released
            filters_.back().filter->JoinFilterGraph(nullptr, nullptr);
            filters_.pop_back();
        }
    }
}

bool FilterGraph::contains(IBaseFilter* filter) const
{
    return std::any_of(filters_.begin(), filters_.end(), [filter](const Entry& e) { return e.filter.get() == filter; });
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name)
{
    if (filter == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (contains(filter))
        return E_INVALIDARG;
    try {
        const bool named = name != nullptr && *name != L'\0';
        const std::wstring base = named ? name : L"Filter";
        auto taken = [this](const std::wstring& n) {
            return std::any_of(filters_.begin(), filters_.end(), [&n](const Entry& e) { return e.name == n; });
        };
        std::wstring chosen = base;
        if (!named || taken(chosen))
            for (int i = 1;; ++i) { // "Name 0001", "Name 0002", ...
                wchar_t suffix[16];
                std::swprintf(suffix, 16, L" %04d", i);
                chosen = base + suffix;
                if (!taken(chosen))
                    break;
            }
        filters_.push_back(Entry{ComPtr<IBaseFilter>(filter), chosen});
        const HRESULT hr = filter->JoinFilterGraph(self(), chosen.c_str());
        if (FAILED(hr)) {
            filters_.pop_back();
            return hr;
        }
        return named && chosen != base ? VFW_S_DUPLICATE_NAME : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void FilterGraph::removeEntry(size_t index)
{
    ComPtr<IBaseFilter> filter = filters_[index].filter;
    for (const ComPtr<IPin>& pin : pinsOf(filter.get())) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer)
            peer->Disconnect();
        pin->Disconnect();
    }
    filter->JoinFilterGraph(nullptr, nullptr);
    filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(index));
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter)
{
    if (filter == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (size_t i = 0; i < filters_.size(); ++i)
        if (filters_[i].filter.get() == filter) {
            if (state_ != State_Stopped)
                Stop();
            try {
                removeEntry(i);
            } catch (...) {
                return E_OUTOFMEMORY;
            }
            return S_OK;
        }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** filters)
{
    if (filters == nullptr)
        return E_POINTER;
    *filters = nullptr;
    try {
        std::vector<ComPtr<IBaseFilter>> list;
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            for (const Entry& e : filters_)
                list.push_back(e.filter);
        }
        return createObject<FilterEnum>(IID_IEnumFilters, reinterpret_cast<void**>(filters), std::move(list));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter)
{
    if (name == nullptr || filter == nullptr)
        return E_POINTER;
    *filter = nullptr;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    for (const Entry& e : filters_)
        if (e.name == name)
            return e.filter.copyTo(filter);
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in)
{
    if (out == nullptr || in == nullptr)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!contains(filterOf(out).get()) || !contains(filterOf(in).get()))
        return VFW_E_NOT_IN_GRAPH;
    if (directionOf(out) != PINDIR_OUTPUT || directionOf(in) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    ComPtr<IPin> peer;
    if (SUCCEEDED(out->ConnectedTo(peer.put())) || SUCCEEDED(in->ConnectedTo(peer.put())))
        return VFW_E_ALREADY_CONNECTED;
    const HRESULT hr = out->Connect(in, nullptr);
    if (SUCCEEDED(hr))
        return S_OK;
    // No intermediate filters to try: a failed type agreement is a failed connection.
    return hr == VFW_E_NOT_STOPPED || hr == E_OUTOFMEMORY ? hr : VFW_E_CANNOT_CONNECT;
}

std::vector<IBaseFilter*> FilterGraph::downstreamFirst()
{
    // Depth: 0 for a filter whose outputs lead nowhere, else 1 + the deepest filter downstream.
    std::map<IBaseFilter*, std::vector<IBaseFilter*>> downstream;
    for (const Entry& e : filters_) {
        auto& list = downstream[e.filter.get()];
        for (const ComPtr<IPin>& pin : pinsOf(e.filter.get())) {
            ComPtr<IPin> peer;
            if (directionOf(pin.get()) == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(peer.put()))) {
                ComPtr<IBaseFilter> next = filterOf(peer.get());
                if (next && contains(next.get()))
                    list.push_back(next.get());
            }
        }
    }
    std::map<IBaseFilter*, int> depth;
    std::set<IBaseFilter*> visiting;
    std::function<int(IBaseFilter*)> depthOf = [&](IBaseFilter* f) -> int {
        auto it = depth.find(f);
        if (it != depth.end())
            return it->second;
        if (!visiting.insert(f).second)
            return 0; // a loop: cut it here
        int d = 0;
        for (IBaseFilter* next : downstream[f])
            d = std::max(d, depthOf(next) + 1);
        visiting.erase(f);
        depth[f] = d;
        return d;
    };
    std::vector<IBaseFilter*> order;
    for (const Entry& e : filters_)
        order.push_back(e.filter.get());
    for (IBaseFilter* f : order)
        depthOf(f);
    std::stable_sort(order.begin(), order.end(), [&](IBaseFilter* a, IBaseFilter* b) { return depth[a] < depth[b]; });

    size_t renderers = 0;
    for (IBaseFilter* f : order)
        if (depth[f] == 0) {
            const auto pins = pinsOf(f);
            renderers += std::any_of(pins.begin(), pins.end(), [](const ComPtr<IPin>& p) {
                ComPtr<IPin> peer;
                return directionOf(p.get()) == PINDIR_INPUT && SUCCEEDED(p->ConnectedTo(peer.put()));
            });
        }
    std::lock_guard<std::mutex> events(eventLock_);
    renderers_ = renderers;
    return order;
}

void FilterGraph::startCompletion()
{
    std::lock_guard<std::mutex> events(eventLock_);
    completed_.clear();
    completion_ = 0;
}

HRESULT FilterGraph::pauseAll()
{
    for (IBaseFilter* f : downstreamFirst()) {
        const HRESULT hr = f->Pause();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT FilterGraph::stopAll()
{
    HRESULT result = S_OK;
    try {
        const auto order = downstreamFirst();
        if (state_ == State_Running)
            for (IBaseFilter* f : order)
                f->Pause();
        for (IBaseFilter* f : order) {
            const HRESULT hr = f->Stop();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
    } catch (...) {
        result = E_OUTOFMEMORY;
    }
    state_ = State_Stopped;
    return result;
}

HRESULT FilterGraph::Run()
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (state_ == State_Running)
        return S_OK;
    try {
        if (state_ == State_Stopped) {
            startCompletion();
            const HRESULT hr = pauseAll();
            if (FAILED(hr))
                return hr;
            state_ = State_Paused;
        }
        for (IBaseFilter* f : downstreamFirst()) {
            const HRESULT hr = f->Run(0);
            if (FAILED(hr))
                return hr;
        }
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::Pause()
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    try {
        if (state_ == State_Stopped)
            startCompletion();
        const HRESULT hr = pauseAll();
        if (FAILED(hr))
            return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT FilterGraph::Stop()
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return stopAll();
}

// Only the end of a run is kept: EC_COMPLETE once every renderer has reported it, or the first abort.
HRESULT FilterGraph::Notify(LONG code, LONG_PTR, LONG_PTR param2)
{
    try {
        std::lock_guard<std::mutex> events(eventLock_);
        if (completion_ != 0)
            return S_OK;
        if (code == EC_COMPLETE) {
            completed_.insert(param2);
            if (completed_.size() < renderers_)
                return S_OK;
        } else if (code != EC_ERRORABORT) {
            return S_OK;
        }
        completion_ = code;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    eventSignal_.notify_all();
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG milliseconds, LONG* code)
{
    if (code == nullptr)
        return E_POINTER;
    *code = 0;
    std::unique_lock<std::mutex> events(eventLock_);
    const auto ended = [this] { return completion_ != 0; };
    if (milliseconds < 0)
        eventSignal_.wait(events, ended);
    else if (!eventSignal_.wait_for(events, std::chrono::milliseconds(milliseconds), ended))
        return E_ABORT;
    *code = completion_;
    return S_OK;
}

} // namespace

HRESULT createFilterGraph(REFIID riid, void** object) { return createObject<FilterGraph>(riid, object); }

} // namespace platform
