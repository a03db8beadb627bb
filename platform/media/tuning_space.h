// Tuning spaces: a network's kind and naming, its network provider, the LNB of a DVB-S space and
// its default locator; they create the tune requests of tuning_request.h. Strings passed in are
// plain zero-terminated wide strings; strings handed out are BSTRs the caller frees.
#pragma once

#include "platform/media/tuning_locator.h"

inline constexpr IID IID_ITuningSpace = {0x061C6E30, 0xE622, 0x11D2, {0x94, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_IDVBTuningSpace = {0xADA0B268, 0x3B19, 0x4E5B, {0xAC, 0xC4, 0x49, 0xF8, 0x52, 0xBE, 0x13, 0xBA}};
inline constexpr IID IID_IDVBTuningSpace2 = {0x843188B4, 0xCE62, 0x43DB, {0x96, 0x6B, 0x81, 0x45, 0xA0, 0x94, 0xE0, 0x40}};
inline constexpr IID IID_IDVBSTuningSpace = {0xCDF7BE60, 0xD954, 0x42FD, {0xA9, 0x72, 0x78, 0x97, 0x19, 0x58, 0xE4, 0x70}};
inline constexpr CLSID CLSID_DVBSTuningSpace = {0xB64016F3, 0xC9A2, 0x4066, {0x96, 0xF0, 0xBD, 0x95, 0x63, 0x31, 0x47, 0x26}};

enum DVBSystemType : LONG { DVB_Cable = 0, DVB_Terrestrial = 1, DVB_Satellite = 2, ISDB_Terrestrial = 3, ISDB_Satellite = 4 };

struct ITuneRequest; // tuning_request.h

struct ITuningSpace : IUnknown {
    static constexpr const IID& kIid = IID_ITuningSpace;
    using Parent = IUnknown;
    virtual HRESULT get_UniqueName(BSTR* name) = 0;
    virtual HRESULT put_UniqueName(LPCOLESTR name) = 0;
    virtual HRESULT get_FriendlyName(BSTR* name) = 0;
    virtual HRESULT put_FriendlyName(LPCOLESTR name) = 0;
    virtual HRESULT get_CLSID(BSTR* clsid) = 0;            // the tuning space's own class, "{...}"
    virtual HRESULT get_NetworkType(BSTR* clsid) = 0;      // the network provider's class, "{...}"
    virtual HRESULT put_NetworkType(LPCOLESTR clsid) = 0;  // E_INVALIDARG unless "{...}"
    virtual HRESULT get__NetworkType(GUID* clsid) = 0;
    virtual HRESULT put__NetworkType(REFCLSID clsid) = 0;
    virtual HRESULT CreateTuneRequest(ITuneRequest** request) = 0; // a request on this space, no locator
    virtual HRESULT get_FrequencyMapping(BSTR* mapping) = 0;
    virtual HRESULT put_FrequencyMapping(LPCOLESTR mapping) = 0;
    virtual HRESULT get_DefaultLocator(ILocator** locator) = 0; // S_FALSE and null when none
    virtual HRESULT put_DefaultLocator(ILocator* locator) = 0;  // keeps a copy
    virtual HRESULT Clone(ITuningSpace** copy) = 0;
};

struct IDVBTuningSpace : ITuningSpace {
    static constexpr const IID& kIid = IID_IDVBTuningSpace;
    using Parent = ITuningSpace;
    virtual HRESULT get_SystemType(DVBSystemType* type) = 0;
    virtual HRESULT put_SystemType(DVBSystemType type) = 0;
};

struct IDVBTuningSpace2 : IDVBTuningSpace {
    static constexpr const IID& kIid = IID_IDVBTuningSpace2;
    using Parent = IDVBTuningSpace;
    virtual HRESULT get_NetworkID(LONG* id) = 0;
    virtual HRESULT put_NetworkID(LONG id) = 0;
};

// Oscillator and switch frequencies in kHz; -1 means not set.
struct IDVBSTuningSpace : IDVBTuningSpace2 {
    static constexpr const IID& kIid = IID_IDVBSTuningSpace;
    using Parent = IDVBTuningSpace2;
    virtual HRESULT get_LowOscillator(LONG* khz) = 0;
    virtual HRESULT put_LowOscillator(LONG khz) = 0;
    virtual HRESULT get_HighOscillator(LONG* khz) = 0;
    virtual HRESULT put_HighOscillator(LONG khz) = 0;
    virtual HRESULT get_LNBSwitch(LONG* khz) = 0;
    virtual HRESULT put_LNBSwitch(LONG khz) = 0;
    virtual HRESULT get_InputRange(BSTR* range) = 0;
    virtual HRESULT put_InputRange(LPCOLESTR range) = 0;
    virtual HRESULT get_SpectralInversion(SpectralInversion* inversion) = 0;
    virtual HRESULT put_SpectralInversion(SpectralInversion inversion) = 0;
};
