// Tune requests: what a network provider is asked to tune to, on the tuning space that created
// the request. A new request has no locator and any service (-1).
#pragma once

#include "platform/media/tuning_space.h"

inline constexpr IID IID_ITuneRequest = {0x07DDC146, 0xFC3D, 0x11D2, {0x9D, 0x8C, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_IDVBTuneRequest = {0x0D6F567E, 0xA636, 0x42BB, {0x83, 0xBA, 0xCE, 0x4C, 0x17, 0x04, 0xAF, 0xA2}};

struct ITuneRequest : IUnknown {
    static constexpr const IID& kIid = IID_ITuneRequest;
    using Parent = IUnknown;
    virtual HRESULT get_TuningSpace(ITuningSpace** space) = 0; // the space that created it
    virtual HRESULT get_Locator(ILocator** locator) = 0;       // S_FALSE and null when none
    virtual HRESULT put_Locator(ILocator* locator) = 0;        // keeps a copy
    virtual HRESULT Clone(ITuneRequest** copy) = 0;
};

// Service ids; -1 means any.
struct IDVBTuneRequest : ITuneRequest {
    static constexpr const IID& kIid = IID_IDVBTuneRequest;
    using Parent = ITuneRequest;
    virtual HRESULT get_ONID(LONG* id) = 0;
    virtual HRESULT put_ONID(LONG id) = 0;
    virtual HRESULT get_TSID(LONG* id) = 0;
    virtual HRESULT put_TSID(LONG id) = 0;
    virtual HRESULT get_SID(LONG* id) = 0;
    virtual HRESULT put_SID(LONG id) = 0;
};
