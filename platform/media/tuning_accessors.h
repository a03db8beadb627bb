// Property accessors shared by the tuning objects: null checks, BSTR copies, no exceptions out.
#pragma once

#include "platform/media/propertybag_variant.h"

#include <string>

namespace platform::media::detail {

template <class T>
HRESULT getValue(const T& value, T* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = value;
    return S_OK;
}

inline HRESULT getString(const std::wstring& value, BSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

inline HRESULT putString(std::wstring& slot, LPCOLESTR text)
{
    if (text == nullptr)
        return E_POINTER;
    try {
        slot = text;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Hands out a copy of an optional object (S_FALSE and null when there is none).
template <class I>
HRESULT getClone(const ComPtr<I>& held, I** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    return held ? held->Clone(out) : S_FALSE;
}

// Keeps a copy of an optional object (null clears it).
template <class I>
HRESULT putClone(ComPtr<I>& slot, I* given)
{
    ComPtr<I> copy;
    if (given) {
        const HRESULT hr = given->Clone(copy.put());
        if (FAILED(hr))
            return hr;
    }
    slot = copy;
    return S_OK;
}

} // namespace platform::media::detail
