// Kernel-streaming property access: IKsPropertySet and its result codes, with the published values.
#pragma once

#include "platform/media/com.h"

// Support mask bits returned by IKsPropertySet::QuerySupported.
constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;

// An unknown property set, or a known set without the asked-for property.
constexpr HRESULT E_PROP_SET_UNSUPPORTED = static_cast<HRESULT>(0x80070492u);
constexpr HRESULT E_PROP_ID_UNSUPPORTED = static_cast<HRESULT>(0x80070490u);
// A property buffer smaller than the property's value (HRESULT of ERROR_INSUFFICIENT_BUFFER).
constexpr HRESULT E_KS_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x8007007Au);
// The device has gone (unplugged, driver unloaded): HRESULT of ERROR_DEVICE_NOT_CONNECTED.
constexpr HRESULT E_DEVICE_NOT_CONNECTED = static_cast<HRESULT>(0x8007048Fu);

inline constexpr IID IID_IKsPropertySet = {0x31EFAC30, 0x515C, 0x11D0, {0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61, 0xBE, 0x93}};

struct IKsPropertySet : IUnknown {
    static constexpr const IID& kIid = IID_IKsPropertySet;
    using Parent = IUnknown;
    // Writes a property. The instance data qualifies the request; the property data is its value.
    virtual HRESULT Set(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
                        DWORD dataLength) = 0;
    // Reads a property into propertyData; *bytesReturned (optional) receives the length written.
    virtual HRESULT Get(REFGUID propSet, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
                        DWORD dataLength, DWORD* bytesReturned) = 0;
    // *typeSupport receives KSPROPERTY_SUPPORT_GET and/or KSPROPERTY_SUPPORT_SET.
    virtual HRESULT QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport) = 0;
};
