#include "tuner/input_filter.h"

#include "decoder/ts_input_filter.h"

#include <mutex>
#include <new>
#include <utility>

namespace tuner {

namespace {

std::mutex hooksMutex;
InputFilterHooks& hooks()
{
    static InputFilterHooks current;
    return current;
}

// The receiver's own sink, made by its constructor as the graph needs it.
IBaseFilter* createTsInputFilter(HRESULT* result)
{
    HRESULT hr = S_OK;
    TSInputFilter* filter = new (std::nothrow) TSInputFilter(nullptr, &hr);
    if (filter == nullptr) {
        *result = E_OUTOFMEMORY;
        return nullptr;
    }
    ComPtr<IBaseFilter> held(filter);
    *result = hr;
    return SUCCEEDED(hr) ? held.detach() : nullptr;
}

void setTsInputDelivery(IBaseFilter* filter, bool on)
{
    if (auto* input = dynamic_cast<TSInputFilter*>(filter))
        input->setDelivery(on);
}

} // namespace

InputFilterHooks setInputFilterHooks(InputFilterHooks replacement)
{
    std::lock_guard<std::mutex> lock(hooksMutex);
    return std::exchange(hooks(), std::move(replacement));
}

IBaseFilter* createInputFilter(HRESULT* result)
{
    std::function<IBaseFilter*(HRESULT*)> create;
    {
        std::lock_guard<std::mutex> lock(hooksMutex);
        create = hooks().create;
    }
    HRESULT hr = S_OK;
    IBaseFilter* filter = create ? create(&hr) : createTsInputFilter(&hr);
    if (SUCCEEDED(hr) && filter == nullptr)
        hr = E_OUTOFMEMORY;
    if (FAILED(hr) && filter) {
        filter->Release();
        filter = nullptr;
    }
    if (result)
        *result = hr;
    return filter;
}

void setInputFilterDelivery(IBaseFilter* filter, bool on)
{
    std::function<void(IBaseFilter*, bool)> setDelivery;
    {
        std::lock_guard<std::mutex> lock(hooksMutex);
        setDelivery = hooks().setDelivery;
    }
    if (filter == nullptr)
        return;
    if (setDelivery)
        setDelivery(filter, on);
    else
        setTsInputDelivery(filter, on);
}

} // namespace tuner
