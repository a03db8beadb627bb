// The tuning properties: each written on its pin, then all committed together.
#include "tuner/bdamanager.h"

#include "platform/ks/card_extension.h"
#include "tuner/diagnostics.h"

#include <cstring>

using tuner::debugLine;
using tuner::errorBox;

namespace {

// KS fills the instance block in; ours is only its room.
constexpr DWORD kInstanceSize = 24;

const char kQuerySupportedFailed[] = "QuerySupported failed\n";

} // namespace

int CBDAManager::writeProperty(const TuningProperty& texts, DWORD value)
{
    IKsPropertySet* propertySet =
        texts.pin == TunerPin::Input ? m_pTunerInputPropSet.get() : m_pTunerOutputPropSet.get();
    const GUID& set = *texts.set;
    const DWORD id = texts.id;
    auto report = [&texts](const char* text) { texts.boxes ? errorBox(text) : debugLine(text); };
    debugLine(texts.entry);
    if (propertySet == nullptr) {
        if (texts.boxes)
            errorBox("IKsPropertySet pointer error\n");
        return 0;
    }
    DWORD support = 0;
    if (FAILED(propertySet->QuerySupported(set, id, &support))) {
        report(texts.querySupportedFailed);
        return 0;
    }
    if ((support & KSPROPERTY_SUPPORT_SET) == 0) {
        report(texts.setNotSupported);
        return 0;
    }
    BYTE instance[kInstanceSize];
    std::memset(instance, 0, sizeof(instance));
    if (FAILED(propertySet->Set(set, id, instance, kInstanceSize, &value, sizeof(value)))) {
        report(texts.setFailed);
        return 0;
    }
    return 1;
}

template <class T>
int CBDAManager::writeTuning(const TuningProperty& property, T value, T SatelliteParams::*field)
{
    if (!writeProperty(property, static_cast<DWORD>(value)))
        return 0;
    if (m_pSatelliteParams)
        (*m_pSatelliteParams).*field = value;
    return 1;
}

// The boxed setters share their texts' pattern: "<property>, SET not supported\n" and ", SET failed\n".
#define KEST_BOXED_PROPERTY(entry, name, pin, set, id) \
    {entry, kQuerySupportedFailed, name ", SET not supported\n", name ", SET failed\n", true, pin, set, id}

namespace {
constexpr CBDAManager::TuningProperty kProperties[] = {
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetCarrierFrequency\n", "KSPROPERTY_BDA_RF_TUNER_FREQUENCY", CBDAManager::TunerPin::Input, &KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetPolarisation\n", "KSPROPERTY_BDA_RF_TUNER_POLARITY", CBDAManager::TunerPin::Input, &KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_POLARITY),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetLNBLowOscFrequency\n", "KSPROPERTY_BDA_LNB_LOF_LOW_BAND", CBDAManager::TunerPin::Input, &KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_LOW_BAND),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetLNBHighOscFrequency\n", "KSPROPERTY_BDA_LNB_LOF_HIGH_BAND", CBDAManager::TunerPin::Input, &KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_HIGH_BAND),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetLNBSwitchFrequency\n", "KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY", CBDAManager::TunerPin::Input, &KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetSpectralInversion\n", "KSPROPERTY_BDA_SPECTRAL_INVERSION", CBDAManager::TunerPin::Output, &KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SPECTRAL_INVERSION),
    KEST_BOXED_PROPERTY("CBDAManager: CBDAFilterGraph::SetModulationType\n", "KSPROPERTY_BDA_MODULATION_TYPE", CBDAManager::TunerPin::Output, &KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_MODULATION_TYPE),
    {"CBDAManager: CBDAFilterGraph::SetInnerFECRate\n", "KSPROPERTY_BDA_INNER_FEC_RATE QuerySupported failed!\n",
     "KSPROPERTY_BDA_INNER_FEC_RATE SET not supported!\n", "KSPROPERTY_BDA_INNER_FEC_RATE Set failed!\n", false,
     CBDAManager::TunerPin::Output, &KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_INNER_FEC_RATE},
    {"CBDAManager::SetSymbolRate\n", "KSPROPERTY_BDA_SYMBOL_RATE QuerySupported failed!\n",
     "KSPROPERTY_BDA_SYMBOL_RATE, SET not supported\n", "KSPROPERTY_BDA_SYMBOL_RATE Set failed!\n", false,
     CBDAManager::TunerPin::Output, &KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE},
};

#define KEST_STREAM_PROPERTY(name, id) \
    {"CBDAManager::Set" name "\n", "KSPROPERTY_CARD_" #id " QuerySupported failed!\n", \
     "KSPROPERTY_CARD_" #id " SET not supported!\n", "KSPROPERTY_CARD_" #id " Set failed!\n", false, \
     CBDAManager::TunerPin::Output, &KSPROPSETID_CardStream, KSPROPERTY_CARD_##id}
constexpr CBDAManager::TuningProperty kStreamProperties[] = {
    KEST_STREAM_PROPERTY("StreamId", STREAM_ID),
    KEST_STREAM_PROPERTY("PLSMode", PLS_MODE),
    KEST_STREAM_PROPERTY("PLSCode", PLS_CODE),
    KEST_STREAM_PROPERTY("BasebandFrames", BASEBAND_FRAMES),
};
#undef KEST_STREAM_PROPERTY
} // namespace
#undef KEST_BOXED_PROPERTY

int CBDAManager::SetCarrierFrequency(ULONG kHz) { return writeTuning(kProperties[0], kHz, &SatelliteParams::carrierFrequency); }
int CBDAManager::SetPolarisation(LONG polarisation) { return writeTuning(kProperties[1], polarisation, &SatelliteParams::polarisation); }
int CBDAManager::SetLNBLowOscFrequency(ULONG kHz) { return writeTuning(kProperties[2], kHz, &SatelliteParams::lnbLowOscillator); }
int CBDAManager::SetLNBHighOscFrequency(ULONG kHz) { return writeTuning(kProperties[3], kHz, &SatelliteParams::lnbHighOscillator); }
int CBDAManager::SetLNBSwitchFrequency(ULONG kHz) { return writeTuning(kProperties[4], kHz, &SatelliteParams::lnbSwitchFrequency); }
int CBDAManager::SetSpectralInversion(LONG inversion) { return writeTuning(kProperties[5], inversion, &SatelliteParams::spectralInversion); }
int CBDAManager::SetModulationType(LONG modulation) { return writeTuning(kProperties[6], modulation, &SatelliteParams::modulation); }
int CBDAManager::SetInnerFECRate(LONG fecRate) { return writeTuning(kProperties[7], fecRate, &SatelliteParams::innerFecRate); }
int CBDAManager::SetSymbolRate(ULONG kSps) { return writeTuning(kProperties[8], kSps, &SatelliteParams::symbolRate); }

int CBDAManager::SetStreamId(LONG streamId) { return writeTuning(kStreamProperties[0], streamId, &SatelliteParams::streamId); }
int CBDAManager::SetPLSMode(LONG mode) { return writeTuning(kStreamProperties[1], mode, &SatelliteParams::plsMode); }
int CBDAManager::SetPLSCode(LONG code) { return writeTuning(kStreamProperties[2], code, &SatelliteParams::plsCode); }
int CBDAManager::SetBasebandFrames(LONG on) { return writeTuning(kStreamProperties[3], on, &SatelliteParams::basebandFrames); }

bool CBDAManager::SupportsBasebandFrames()
{
    DWORD support = 0;
    return m_pTunerOutputPropSet
        && SUCCEEDED(m_pTunerOutputPropSet->QuerySupported(KSPROPSETID_CardStream, KSPROPERTY_CARD_BASEBAND_FRAMES,
                                                            &support))
        && (support & KSPROPERTY_SUPPORT_SET) != 0;
}

int CBDAManager::SetNewSatParams(const SatelliteParams* pNewSatParams)
{
    debugLine("CBDAManager: CBDAFilterGraph::SetNewSatParams\n");
    if (!tuner::check(pNewSatParams != nullptr, "pNewSatParams", 1385) ||
        !tuner::check(m_pSatelliteParams != nullptr, "m_pSatelliteParams", 1386) ||
        !tuner::check(m_pIBDADevCtrl != nullptr, "m_pIBDADevCtrl", 1387))
        return 0;
    // Every property on every call, whatever the earlier ones answered.
    const SatelliteParams p = *pNewSatParams;
    debugLine("CBDAManager: new Carrier Frequency\n");
    SetCarrierFrequency(p.carrierFrequency);
    debugLine("CBDAManager: new Polarisation value\n");
    SetPolarisation(p.polarisation);
    debugLine("CBDAManager: new LNB Low Osc. frequency\n");
    SetLNBLowOscFrequency(p.lnbLowOscillator);
    debugLine("CBDAManager: new LNB High Osc. frequency\n");
    SetLNBHighOscFrequency(p.lnbHighOscillator);
    debugLine("CBDAManager: new LNB Switch frequency\n");
    SetLNBSwitchFrequency(p.lnbSwitchFrequency);
    debugLine("CBDAManager: new Symbol Rate value\n");
    SetSymbolRate(p.symbolRate);
    debugLine("CBDAManager: new Code Rate value\n");
    SetInnerFECRate(p.innerFecRate);
    debugLine("CBDAManager: new Modulation type\n");
    SetModulationType(p.modulation);
    if (selectsStream(p)) {
        // The card forgets the selection at each commit: it is written with every tuning that has one.
        SetStreamId(p.streamId);
        SetPLSMode(p.plsMode);
        SetPLSCode(p.plsCode);
        SetBasebandFrames(p.basebandFrames);
    } else if (m_pSatelliteParams) {
        m_pSatelliteParams->streamId = p.streamId;
        m_pSatelliteParams->plsMode = p.plsMode;
        m_pSatelliteParams->plsCode = p.plsCode;
        m_pSatelliteParams->basebandFrames = p.basebandFrames;
    }
    debugLine("CBDAManager: new Spectral Inversion type\n");
    const int last = SetSpectralInversion(p.spectralInversion);
    if (FAILED(m_pIBDADevCtrl->CommitChanges())) {
        errorBox("IBDA_DeviceControl::CommitChanges failed!\n");
        return 0;
    }
    return last;
}
