// Tuning spaces: a network's kind and naming, its network provider and, for DVB-S, its LNB; they
// create the tune requests a network provider is given. The system keeps its tuning spaces in one
// container per process. Only what a broadcast graph is built with is here: the receiver sets a
// space up and hands it on; the network provider reads its unique name and network type back.
// Strings passed in are zero-terminated wide strings; strings handed out are BSTRs the caller frees.
#pragma once

#include "platform/ks/bda.h"
#include "platform/media/enumerators.h"
#include "platform/media/propertybag_variant.h"

inline constexpr IID IID_ILocator = {0x286D7F89, 0x760C, 0x4F89, {0x80, 0xC4, 0x66, 0x84, 0x1D, 0x25, 0x07, 0xAA}};
inline constexpr CLSID CLSID_DVBSLocator = {0x1DF7D126, 0x4050, 0x47F0, {0xA7, 0xCF, 0x4C, 0x4C, 0xA9, 0x24, 0x13, 0x33}};
inline constexpr IID IID_ITuneRequest = {0x07DDC146, 0xFC3D, 0x11D2, {0x9D, 0x8C, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_ITuningSpace = {0x061C6E30, 0xE622, 0x11D2, {0x94, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_IDVBTuningSpace = {0xADA0B268, 0x3B19, 0x4E5B, {0xAC, 0xC4, 0x49, 0xF8, 0x52, 0xBE, 0x13, 0xBA}};
inline constexpr IID IID_IDVBTuningSpace2 = {0x843188B4, 0xCE62, 0x43DB, {0x96, 0x6B, 0x81, 0x45, 0xA0, 0x94, 0xE0, 0x40}};
inline constexpr IID IID_IDVBSTuningSpace = {0xCDF7BE60, 0xD954, 0x42FD, {0xA9, 0x72, 0x78, 0x97, 0x19, 0x58, 0xE4, 0x70}};
inline constexpr CLSID CLSID_DVBSTuningSpace = {0xB64016F3, 0xC9A2, 0x4066, {0x96, 0xF0, 0xBD, 0x95, 0x63, 0x31, 0x47, 0x26}};
inline constexpr IID IID_IEnumTuningSpaces = {0x8B8EB248, 0xFC2B, 0x11D2, {0x9D, 0x8C, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr IID IID_ITuningSpaceContainer = {0x5B692E84, 0xE2F1, 0x11D2, {0x94, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};
inline constexpr CLSID CLSID_SystemTuningSpaces = {0xD02AAC50, 0x027E, 0x11D3, {0x9D, 0x8E, 0x00, 0xC0, 0x4F, 0x72, 0xD9, 0x80}};

enum DVBSystemType : LONG { DVB_Cable = 0, DVB_Terrestrial = 1, DVB_Satellite = 2, ISDB_Terrestrial = 3, ISDB_Satellite = 4 };

// A unique name that is in the container already (HRESULT of ERROR_DUP_NAME).
constexpr HRESULT E_TUNING_SPACE_DUPLICATE = static_cast<HRESULT>(0x80070034u);

// Where a transponder is; a space's default locator has nothing set.
struct ILocator : IUnknown {
    static constexpr const IID& kIid = IID_ILocator;
    using Parent = IUnknown;
    virtual HRESULT Clone(ILocator** copy) = 0;
};

struct ITuningSpace;

struct ITuneRequest : IUnknown {
    static constexpr const IID& kIid = IID_ITuneRequest;
    using Parent = IUnknown;
    virtual HRESULT get_TuningSpace(ITuningSpace** space) = 0; // the space that created it
};

struct ITuningSpace : IUnknown {
    static constexpr const IID& kIid = IID_ITuningSpace;
    using Parent = IUnknown;
    virtual HRESULT get_UniqueName(BSTR* name) = 0;
    virtual HRESULT put_UniqueName(LPCOLESTR name) = 0;
    virtual HRESULT put_FriendlyName(LPCOLESTR name) = 0;
    virtual HRESULT get_NetworkType(BSTR* clsid) = 0; // the network provider's class, "{...}"
    virtual HRESULT get__NetworkType(GUID* clsid) = 0;
    virtual HRESULT put__NetworkType(REFCLSID clsid) = 0;
    virtual HRESULT CreateTuneRequest(ITuneRequest** request) = 0;
    virtual HRESULT put_FrequencyMapping(LPCOLESTR mapping) = 0;
    virtual HRESULT put_DefaultLocator(ILocator* locator) = 0; // keeps a copy
    virtual HRESULT Clone(ITuningSpace** copy) = 0;
};

struct IDVBTuningSpace : ITuningSpace {
    static constexpr const IID& kIid = IID_IDVBTuningSpace;
    using Parent = ITuningSpace;
    virtual HRESULT put_SystemType(DVBSystemType type) = 0;
};

struct IDVBTuningSpace2 : IDVBTuningSpace {
    static constexpr const IID& kIid = IID_IDVBTuningSpace2;
    using Parent = IDVBTuningSpace;
};

// Oscillator and switch frequencies in kHz; -1 means not set.
struct IDVBSTuningSpace : IDVBTuningSpace2 {
    static constexpr const IID& kIid = IID_IDVBSTuningSpace;
    using Parent = IDVBTuningSpace2;
    virtual HRESULT put_LowOscillator(LONG khz) = 0;
    virtual HRESULT put_HighOscillator(LONG khz) = 0;
    virtual HRESULT put_LNBSwitch(LONG khz) = 0;
    virtual HRESULT put_InputRange(LPCOLESTR range) = 0;
    virtual HRESULT put_SpectralInversion(SpectralInversion inversion) = 0;
};

struct IEnumTuningSpaces : IUnknown {
    static constexpr const IID& kIid = IID_IEnumTuningSpaces;
    using Parent = IUnknown;
    virtual HRESULT Next(ULONG count, ITuningSpace** spaces, ULONG* fetched) = 0; // S_FALSE: fewer
};

// The container keeps copies: what is added, and what it hands out, can change without touching it.
struct ITuningSpaceContainer : IUnknown {
    static constexpr const IID& kIid = IID_ITuningSpaceContainer;
    using Parent = IUnknown;
    virtual HRESULT get_EnumTuningSpaces(IEnumTuningSpaces** spaces) = 0; // in the order added
    // A space whose unique name is taken gives E_TUNING_SPACE_DUPLICATE. newIndex (optional): the
    // space's id, VT_I4.
    virtual HRESULT Add(ITuningSpace* space, VARIANT* newIndex) = 0;
};

namespace platform::media {

// The class factories of CLSID_DVBSLocator, CLSID_DVBSTuningSpace and CLSID_SystemTuningSpaces.
HRESULT createDVBSLocator(REFIID riid, void** object);
HRESULT createDVBSTuningSpace(REFIID riid, void** object);
HRESULT createSystemTuningSpaces(REFIID riid, void** object); // the one container of the process

} // namespace platform::media
