// Monikers: names of objects that can be bound to the object itself or to its storage
// (a device's property bag). Item monikers name running objects in the running object table.
#pragma once

#include "platform/media/propertybag_variant.h"

#include <string>

struct IBindCtx; // binding contexts are not needed in-process; pass nullptr

inline constexpr IID IID_IMoniker = {0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumMoniker = {0x00000102, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr HRESULT MK_E_NOOBJECT = static_cast<HRESULT>(0x800401E5u);
constexpr HRESULT MK_E_NOSTORAGE = static_cast<HRESULT>(0x800401EDu);
constexpr HRESULT MK_E_UNAVAILABLE = static_cast<HRESULT>(0x800401E3u);

struct IMoniker : IUnknown {
    static constexpr const IID& kIid = IID_IMoniker;
    using Parent = IUnknown;
    // Creates (or finds) the named object and hands out `riid`.
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
    // Hands out the object's storage, e.g. IID_IPropertyBag for a device.
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID riid, void** object) = 0;
    // The moniker's name, CoTaskMemAlloc'ed: the caller frees it with CoTaskMemFree.
    virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) = 0;
};

struct IEnumMoniker : IUnknown {
    static constexpr const IID& kIid = IID_IEnumMoniker;
    using Parent = IUnknown;
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0; // S_FALSE: fewer than count
};

// An item moniker named delimiter + item, e.g. "!" and "FilterGraph 0000abcd pid 00001234".
// It only names: binding it gives MK_E_NOOBJECT.
HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** moniker);

namespace platform::media {

// A moniker known by its display name.
class NamedMoniker : public ComObject<IMoniker> {
public:
    explicit NamedMoniker(std::wstring name) : name_(std::move(name)) {}
    HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPOLESTR* name) override;

private:
    const std::wstring name_;
};

} // namespace platform::media
