#include "platform/media/moniker.h"

#include <cstring>
#include <string>

namespace {

class ItemMoniker : public platform::media::NamedMoniker {
public:
    using NamedMoniker::NamedMoniker;

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        return MK_E_NOOBJECT;
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        return MK_E_NOSTORAGE;
    }
};

} // namespace

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker)
{
    if (moniker == nullptr)
        return E_POINTER;
    *moniker = nullptr;
    if (item == nullptr)
        return E_INVALIDARG;
    try {
        std::wstring name = delimiter ? delimiter : L"";
        name += item;
        return platform::createObject<ItemMoniker>(IID_IMoniker, reinterpret_cast<void**>(moniker), std::move(name));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

namespace platform::media {

HRESULT NamedMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name)
{
    if (name == nullptr)
        return E_POINTER;
    const size_t bytes = (name_.size() + 1) * sizeof(OLECHAR);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (*name == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*name, name_.c_str(), bytes);
    return S_OK;
}

} // namespace platform::media
