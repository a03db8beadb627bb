// The automation strings and variants that property bags and tuning spaces pass: BSTR, VARIANT.
// A BSTR keeps its length in front of its (wchar_t) characters, as COM's do.
#pragma once

#include "platform/media/com.h"

using BSTR = OLECHAR*;
using VARTYPE = uint16_t;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;

constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);

BSTR SysAllocString(const OLECHAR* text);             // null for null text or no memory
BSTR SysAllocStringLen(const OLECHAR* text, UINT length); // text may be null: zeroed characters
void SysFreeString(BSTR text);                         // null is fine
UINT SysStringLen(BSTR text);                          // 0 for null

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        BSTR bstrVal;
    };
};

void VariantInit(VARIANT* v);     // VT_EMPTY
HRESULT VariantClear(VARIANT* v); // frees the string

// CLSIDFromString for the wide form a tuning space hands out ("{...}", ASCII only).
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* guid);
