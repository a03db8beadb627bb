// The DVB-S network provider: the filter at the head of a broadcast graph that holds the tuning
// space and the current tune request (ITuner). The card itself is tuned through its own
// properties, so the provider only keeps and checks what it is given. Its one output pin,
// "Antenna Out", connects to a tuner's input pin with the antenna media type and carries no data.
#pragma once

#include "platform/media/tuning.h"

inline constexpr CLSID CLSID_DVBSNetworkProvider = {0xFA4B375A, 0x45B4, 0x4D45, {0x84, 0x40, 0x26, 0x39, 0x57, 0xB1, 0x16, 0x23}};
inline constexpr GUID KSDATAFORMAT_TYPE_BDA_ANTENNA = {0x71985F41, 0x1CA1, 0x11D3, {0x9C, 0xC8, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xE0}};
inline constexpr IID IID_ITuner = {0x28C52640, 0x018A, 0x11D3, {0x9D, 0x8E, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};

struct ITuner : IUnknown {
    static constexpr const IID& kIid = IID_ITuner;
    using Parent = IUnknown;
    // The space must be one of this provider's network type (E_INVALIDARG otherwise); setting it
    // drops the tune request.
    virtual HRESULT put_TuningSpace(ITuningSpace* space) = 0;
    virtual HRESULT put_TuneRequest(ITuneRequest* request) = 0; // Validate's rules apply
    // S_OK when the request belongs to the current tuning space (same unique name); E_FAIL
    // without a tuning space, E_INVALIDARG otherwise.
    virtual HRESULT Validate(ITuneRequest* request) = 0;
};

namespace platform::media {

HRESULT createDVBSNetworkProvider(REFIID riid, void** object); // the factory of CLSID_DVBSNetworkProvider

} // namespace platform::media
