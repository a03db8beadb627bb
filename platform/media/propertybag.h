// IPropertyBag: named values of a device (its "FriendlyName"), and an in-memory bag of strings
// that serves them.
#pragma once

#include "platform/media/propertybag_variant.h"

#include <map>
#include <string>

struct IErrorLog; // never used; Read accepts and ignores one

inline constexpr IID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

struct IPropertyBag : IUnknown {
    static constexpr const IID& kIid = IID_IPropertyBag;
    using Parent = IUnknown;
    // Reads `name` into *value. A value->vt of VT_EMPTY takes the stored type; any other type must
    // match it (DISP_E_TYPEMISMATCH). The caller owns what is read (VariantClear).
    // E_INVALIDARG for an unknown name.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
};

namespace platform::media {

// A bag holding copies of the given strings (VT_BSTR), e.g. {{L"FriendlyName", L"Kest Cedar BDA Tuner/Demod"}}.
HRESULT createPropertyBag(const std::map<std::wstring, std::wstring>& strings, IPropertyBag** bag);

} // namespace platform::media
