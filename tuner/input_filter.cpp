#include "tuner/input_filter.h"

#include <mutex>
#include <utility>

namespace tuner {

namespace {

constexpr CLSID kTsInputFilterClass = {0x29FA55FE, 0xEBDB, 0x4F9C, {0x84, 0xFF, 0xB0, 0x1B, 0x25, 0x97, 0x8A, 0x83}};

std::mutex hooksMutex;
InputFilterHooks& hooks()
{
    static InputFilterHooks current;
    return current;
}

IBaseFilter* createByClassId(HRESULT* result)
{
    IBaseFilter* filter = nullptr;
    const HRESULT hr = CoCreateInstance(kTsInputFilterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        reinterpret_cast<void**>(&filter));
    if (result)
        *result = hr;
    return SUCCEEDED(hr) ? filter : nullptr;
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
    IBaseFilter* filter = create ? create(&hr) : createByClassId(&hr);
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
    if (filter && setDelivery)
        setDelivery(filter, on);
}

} // namespace tuner
