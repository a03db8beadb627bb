// The system's tuning spaces: one container per process, created as CLSID_SystemTuningSpaces.
// It keeps copies: what is added, and what it hands out, can be changed without touching it.
#pragma once

#include "platform/media/enumerators.h"
#include "platform/media/tuning_space.h"

inline constexpr IID IID_IEnumTuningSpaces = {0x8B8EB248, 0xFC2B, 0x11D2, {0x9D, 0x8C, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_ITuningSpaceContainer = {0x5B692E84, 0xE2F1, 0x11D2, {0x94, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr CLSID CLSID_SystemTuningSpaces = {0xD02AAC50, 0x027E, 0x11D3, {0x9D, 0x8E, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};

// A unique name that is in the container already (HRESULT of ERROR_DUP_NAME).
constexpr HRESULT E_TUNING_SPACE_DUPLICATE = static_cast<HRESULT>(0x80070034u);

struct IEnumTuningSpaces : IUnknown {
    static constexpr const IID& kIid = IID_IEnumTuningSpaces;
    using Parent = IUnknown;
    virtual HRESULT Next(ULONG count, ITuningSpace** spaces, ULONG* fetched) = 0; // S_FALSE: fewer
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumTuningSpaces** copy) = 0;
};

namespace platform::media {
using TuningSpaceEnum = ComEnum<IEnumTuningSpaces, ITuningSpace>;
}

// Indexes are the ids Add hands out (VT_I4), or a unique name (VT_BSTR).
struct ITuningSpaceContainer : IUnknown {
    static constexpr const IID& kIid = IID_ITuningSpaceContainer;
    using Parent = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_EnumTuningSpaces(IEnumTuningSpaces** spaces) = 0; // in the order added
    // The spaces whose unique or friendly name equals `name`; S_FALSE and an empty list for none.
    virtual HRESULT get__TuningSpacesForName(LPCOLESTR name, IEnumTuningSpaces** spaces) = 0;
    virtual HRESULT get_Item(VARIANT index, ITuningSpace** space) = 0; // E_INVALIDARG: no such
    virtual HRESULT Add(ITuningSpace* space, VARIANT* newIndex) = 0;   // newIndex (optional): VT_I4 id
    virtual HRESULT Remove(VARIANT index) = 0;
};
