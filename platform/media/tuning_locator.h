// Locators: where a transponder is (carrier frequency, symbol rate, FEC, modulation and, for
// satellites, polarisation and orbital position). A new locator has every value not set (-1).
#pragma once

#include "platform/ks/bda.h"
#include "platform/media/propertybag_variant.h"

inline constexpr IID IID_ILocator = {0x286D7F89, 0x760C, 0x4F89, {0x80, 0xC4, 0x66, 0x84, 0x1D, 0x25, 0x07, 0xAA}};
inline constexpr IID IID_IDigitalLocator = {0x19B595D8, 0x839A, 0x47F0, {0x96, 0xDF, 0x4F, 0x19, 0x4F, 0x3C, 0x76, 0x8C}};
inline constexpr IID IID_IDVBSLocator = {0x3D7C353C, 0x0D04, 0x45F1, {0xA7, 0x42, 0xF9, 0x7C, 0xC1, 0x18, 0x8D, 0xC8}};
inline constexpr CLSID CLSID_DVBSLocator = {0x1DF7D126, 0x4050, 0x47F0, {0xA7, 0xCF, 0x4C, 0x4C, 0xA9, 0x24, 0x13, 0x33}};

struct ILocator : IUnknown {
    static constexpr const IID& kIid = IID_ILocator;
    using Parent = IUnknown;
    virtual HRESULT get_CarrierFrequency(LONG* khz) = 0;
    virtual HRESULT put_CarrierFrequency(LONG khz) = 0;
    virtual HRESULT get_InnerFEC(FECMethod* method) = 0;
    virtual HRESULT put_InnerFEC(FECMethod method) = 0;
    virtual HRESULT get_InnerFECRate(BinaryConvolutionCodeRate* rate) = 0;
    virtual HRESULT put_InnerFECRate(BinaryConvolutionCodeRate rate) = 0;
    virtual HRESULT get_OuterFEC(FECMethod* method) = 0;
    virtual HRESULT put_OuterFEC(FECMethod method) = 0;
    virtual HRESULT get_OuterFECRate(BinaryConvolutionCodeRate* rate) = 0;
    virtual HRESULT put_OuterFECRate(BinaryConvolutionCodeRate rate) = 0;
    virtual HRESULT get_Modulation(ModulationType* modulation) = 0;
    virtual HRESULT put_Modulation(ModulationType modulation) = 0;
    virtual HRESULT get_SymbolRate(LONG* rate) = 0;
    virtual HRESULT put_SymbolRate(LONG rate) = 0;
    virtual HRESULT Clone(ILocator** copy) = 0;
};

struct IDigitalLocator : ILocator {
    static constexpr const IID& kIid = IID_IDigitalLocator;
    using Parent = ILocator;
};

struct IDVBSLocator : IDigitalLocator {
    static constexpr const IID& kIid = IID_IDVBSLocator;
    using Parent = IDigitalLocator;
    virtual HRESULT get_SignalPolarisation(Polarisation* polarisation) = 0;
    virtual HRESULT put_SignalPolarisation(Polarisation polarisation) = 0;
    virtual HRESULT get_WestPosition(VARIANT_BOOL* west) = 0;
    virtual HRESULT put_WestPosition(VARIANT_BOOL west) = 0;
    virtual HRESULT get_OrbitalPosition(LONG* tenthsOfDegree) = 0;
    virtual HRESULT put_OrbitalPosition(LONG tenthsOfDegree) = 0;
    virtual HRESULT get_Azimuth(LONG* tenthsOfDegree) = 0;
    virtual HRESULT put_Azimuth(LONG tenthsOfDegree) = 0;
    virtual HRESULT get_Elevation(LONG* tenthsOfDegree) = 0;
    virtual HRESULT put_Elevation(LONG tenthsOfDegree) = 0;
};
