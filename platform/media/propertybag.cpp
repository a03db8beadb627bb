#include "platform/media/propertybag.h"

namespace {

class PropertyBag : public platform::ComObject<IPropertyBag> {
public:
    explicit PropertyBag(const std::map<std::wstring, std::wstring>& strings) : values_(strings) {}

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        if (name == nullptr || value == nullptr)
            return E_POINTER;
        try {
            auto it = values_.find(name);
            if (it == values_.end())
                return E_INVALIDARG;
            if (value->vt != VT_EMPTY && value->vt != VT_BSTR)
                return DISP_E_TYPEMISMATCH;
            VariantInit(value); // what the caller passed only names the type; it owns nothing yet
            value->bstrVal = SysAllocStringLen(it->second.data(), static_cast<UINT>(it->second.size()));
            if (value->bstrVal == nullptr)
                return E_OUTOFMEMORY;
            value->vt = VT_BSTR;
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    const std::map<std::wstring, std::wstring> values_; // never changed: read from any thread
};

} // namespace

namespace platform::media {

HRESULT createPropertyBag(const std::map<std::wstring, std::wstring>& strings, IPropertyBag** bag)
{
    return createObject<PropertyBag>(IID_IPropertyBag, reinterpret_cast<void**>(bag), strings);
}

} // namespace platform::media
