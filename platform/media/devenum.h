// The system device enumerator: filter devices listed by category, each as a moniker whose
// property bag holds its "FriendlyName" and whose object is the filter. Card drivers add their
// filters with registerFilterDevice.
#pragma once

#include "platform/media/moniker.h"

#include <string>

inline constexpr CLSID CLSID_SystemDeviceEnum = {0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr IID IID_ICreateDevEnum = {0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// Device categories.
inline constexpr GUID KSCATEGORY_BDA_NETWORK_TUNER = {0x71985F48, 0x1CA1, 0x11D3, {0x9C, 0xC8, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xE0}};
inline constexpr GUID KSCATEGORY_BDA_RECEIVER_COMPONENT = {0xFD0A5AF4, 0xB41D, 0x11D2, {0x9C, 0x95, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xE0}};
inline constexpr GUID KSCATEGORY_CAPTURE = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_BDA_TRANSPORT_INFORMATION = {0xA2E3074F, 0x6C3D, 0x11D3, {0xB6, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0x49, 0x8E}};

struct ICreateDevEnum : IUnknown {
    static constexpr const IID& kIid = IID_ICreateDevEnum;
    using Parent = IUnknown;
    // The devices of `category` in the order they were registered, as a snapshot. An empty
    // category gives S_FALSE and *monikers null. Flags are accepted and ignored.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD flags) = 0;
};

namespace platform::media {

using DeviceId = DWORD; // 0 is never handed out

// Adds a filter device. Binding its moniker calls `factory` with the interface asked for
// (IBaseFilter); it is called on the binding thread, outside any lock of the enumerator.
DeviceId registerFilterDevice(REFGUID category, const std::wstring& friendlyName, ClassFactory factory);
// Removes a device; monikers already handed out then fail to bind (MK_E_UNAVAILABLE).
bool unregisterFilterDevice(DeviceId id);

HRESULT createSystemDeviceEnum(REFIID riid, void** object); // the factory of CLSID_SystemDeviceEnum

} // namespace platform::media
