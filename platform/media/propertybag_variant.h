// The automation strings and variants that property bags and tuning spaces pass: BSTR, VARIANT.
// A BSTR keeps its length in front of its (wchar_t) characters, as COM's do.
#pragma once

#include "platform/media/com.h"

using BSTR = OLECHAR*;
using VARIANT_BOOL = short;
using VARTYPE = uint16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_UNKNOWN = 13;

constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);

BSTR SysAllocString(const OLECHAR* text);             // null for null text or no memory
BSTR SysAllocStringLen(const OLECHAR* text, UINT length); // text may be null: zeroed characters
void SysFreeString(BSTR text);                         // null is fine
UINT SysStringLen(BSTR text);                          // 0 for null

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
    };
};

void VariantInit(VARIANT* v);                       // VT_EMPTY
HRESULT VariantClear(VARIANT* v);                   // frees the string, releases the object
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source); // clears dest first; deep copy

// CLSIDFromString for the wide form a tuning space hands out ("{...}", ASCII only).
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* guid);
