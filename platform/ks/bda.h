// The published broadcast-driver property sets, the ids of the properties the receiver uses, value
// codes, and IBDA_DeviceControl, through which a tuner filter's property changes are committed.
#pragma once

#include "platform/media/com.h"

// Property sets.
inline constexpr GUID KSPROPSETID_BdaFrequencyFilter = {0x71985F47, 0x1CA1, 0x11D3, {0x9C, 0xC8, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xE0}};
inline constexpr GUID KSPROPSETID_BdaDigitalDemodulator = {0xEF30F379, 0x985B, 0x4D10, {0xB6, 0x40, 0xA7, 0x9D, 0x5E, 0x04, 0xE1, 0xE0}};
inline constexpr GUID KSPROPSETID_BdaSignalStats = {0x1347D106, 0xCF3A, 0x428A, {0xA5, 0xCB, 0xAC, 0x0D, 0x9A, 0x2A, 0x43, 0x38}};
inline constexpr GUID KSPROPSETID_BdaLNBInfo = {0x992CF102, 0x49F9, 0x4719, {0xA6, 0x64, 0xC4, 0xF2, 0x3E, 0x24, 0x08, 0xF4}};

// KSPROPSETID_BdaFrequencyFilter
constexpr DWORD KSPROPERTY_BDA_RF_TUNER_FREQUENCY = 0;
constexpr DWORD KSPROPERTY_BDA_RF_TUNER_POLARITY = 1;

// KSPROPSETID_BdaDigitalDemodulator
constexpr DWORD KSPROPERTY_BDA_MODULATION_TYPE = 0;
constexpr DWORD KSPROPERTY_BDA_INNER_FEC_RATE = 2;
constexpr DWORD KSPROPERTY_BDA_SYMBOL_RATE = 5;
constexpr DWORD KSPROPERTY_BDA_SPECTRAL_INVERSION = 6;

// KSPROPSETID_BdaSignalStats
constexpr DWORD KSPROPERTY_BDA_SIGNAL_STRENGTH = 0;
constexpr DWORD KSPROPERTY_BDA_SIGNAL_QUALITY = 1;
constexpr DWORD KSPROPERTY_BDA_SIGNAL_LOCKED = 3;

// KSPROPSETID_BdaLNBInfo
constexpr DWORD KSPROPERTY_BDA_LNB_LOF_LOW_BAND = 0;
constexpr DWORD KSPROPERTY_BDA_LNB_LOF_HIGH_BAND = 1;
constexpr DWORD KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY = 2;

// Value codes carried by these properties are the published BDA ones. Card drivers, note the
// receiver's own use of some: modulation 21 asks for DVB-S2, inner-FEC code 7 stands for both 5/11
// and 8/9, code 8 for 9/10, and spectral inversion 4 for "as the driver sees fit".
enum SpectralInversion : LONG {
    BDA_SPECTRAL_INVERSION_NOT_SET = -1,
    BDA_SPECTRAL_INVERSION_NOT_DEFINED = 0,
    BDA_SPECTRAL_INVERSION_AUTOMATIC = 1,
    BDA_SPECTRAL_INVERSION_NORMAL = 2,
    BDA_SPECTRAL_INVERSION_INVERTED = 3,
    BDA_SPECTRAL_INVERSION_MAX = 4,
};

// Values of IBDA_DeviceControl::GetChangeState.
constexpr ULONG BDA_CHANGES_COMPLETE = 0;
constexpr ULONG BDA_CHANGES_PENDING = 1;

inline constexpr IID IID_IBDA_DeviceControl = {0xFD0A5AF3, 0xB41D, 0x11D2, {0x9C, 0x95, 0x00, 0xC0, 0x4F, 0x79, 0x71, 0xE0}};

struct IBDA_DeviceControl : IUnknown {
    static constexpr const IID& kIid = IID_IBDA_DeviceControl;
    using Parent = IUnknown;
    virtual HRESULT StartChanges() = 0;  // begins a set of changes
    virtual HRESULT CheckChanges() = 0;  // would the pending changes be accepted?
    virtual HRESULT CommitChanges() = 0; // applies the pending changes to the device
    virtual HRESULT GetChangeState(ULONG* state) = 0; // BDA_CHANGES_COMPLETE or BDA_CHANGES_PENDING
};
