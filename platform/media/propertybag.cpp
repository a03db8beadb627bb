#include "platform/media/propertybag.h"

#include <mutex>

namespace {

class PropertyBag : public platform::ComObject<IPropertyBag> {
public:
    ~PropertyBag() override
    {
        for (auto& entry : values_)
            VariantClear(&entry.second);
    }

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        if (name == nullptr || value == nullptr)
            return E_POINTER;
        std::lock_guard<std::mutex> guard(lock_);
        auto it = values_.find(name);
        if (it == values_.end())
            return E_INVALIDARG;
        if (value->vt != VT_EMPTY && value->vt != it->second.vt)
            return DISP_E_TYPEMISMATCH;
        VariantInit(value); // what the caller passed only names the type; it owns nothing yet
        return VariantCopy(value, &it->second);
    }

    HRESULT Write(LPCOLESTR name, VARIANT* value) override
    {
        if (name == nullptr || value == nullptr)
            return E_POINTER;
        VARIANT copy;
        VariantInit(&copy);
        const HRESULT hr = VariantCopy(&copy, value);
        if (FAILED(hr))
            return hr;
        std::lock_guard<std::mutex> guard(lock_);
        VARIANT& slot = values_[name]; // a new slot is zeroed: VT_EMPTY
        VariantClear(&slot);
        slot = copy;
        return S_OK;
    }

private:
    std::mutex lock_;
    std::map<std::wstring, VARIANT> values_;
};

} // namespace

namespace platform::media {

HRESULT createPropertyBag(const std::map<std::wstring, std::wstring>& strings, IPropertyBag** bag)
{
    if (bag == nullptr)
        return E_POINTER;
    *bag = nullptr;
    ComPtr<IPropertyBag> made;
    HRESULT hr = createObject<PropertyBag>(IID_IPropertyBag, made.putVoid());
    if (FAILED(hr))
        return hr;
    for (const auto& entry : strings) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(entry.second.c_str());
        if (v.bstrVal == nullptr)
            return E_OUTOFMEMORY;
        hr = made->Write(entry.first.c_str(), &v);
        VariantClear(&v);
        if (FAILED(hr))
            return hr;
    }
    *bag = made.detach();
    return S_OK;
}

} // namespace platform::media
