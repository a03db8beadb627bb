// The card driver's properties, answered from a Card.
#include "drivers/cardfilters/card_filters.h"

#include "drivers/card/command_block.h"
#include "platform/ks/bda.h"
#include "platform/ks/card_extension.h"
#include "tuner/device_catalogue.h"

#include <cstring>

namespace cardfilters {

using platform::ks::PropertyRequest;
using platform::ks::PropertyTable;

bool cardModel(int32_t id, CardModel* model)
{
    const tuner::DeviceModel* entry = tuner::findModel(id);
    if (!entry || !model)
        return false;
    model->id = id;
    model->tunerName = tuner::widen(entry->tunerName);
    model->captureName = tuner::widen(entry->captureName);
    model->videoCaptureName = entry->videoCaptureName ? tuner::widen(entry->videoCaptureName) : std::wstring();
    model->extensionsOnTunerOutput = tuner::extensionsOnTunerOutput(id);
    return true;
}

template <class T>
void Card::setPending(T SatelliteParams::*field, T value)
{
    std::lock_guard<std::mutex> lock(pendingMutex_);
    pending_.*field = value;
}

SatelliteParams Card::takePending()
{
    std::lock_guard<std::mutex> lock(pendingMutex_);
    const SatelliteParams taken = pending_;
    // The stream selection holds for one commit: a tuning without one is written without it.
    const SatelliteParams defaults;
    pending_.streamId = defaults.streamId;
    pending_.plsMode = defaults.plsMode;
    pending_.plsCode = defaults.plsCode;
    pending_.basebandFrames = defaults.basebandFrames;
    return taken;
}

namespace {

// A published property goes into its field of the pending tuning until CommitChanges.
template <class T>
void onTuning(PropertyTable& table, Card& card, REFGUID set, DWORD id, T SatelliteParams::*field)
{
    table.onSetValue<T>(set, id, [&card, field](T value) {
        card.setPending(field, value);
        return S_OK;
    });
}

} // namespace

// The handlers hold the card by reference: the filter holding the table holds the card.
void Card::addTunerInputProperties(PropertyTable& table)
{
    using P = SatelliteParams;
    onTuning(table, *this, KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_FREQUENCY, &P::carrierFrequency);
    onTuning(table, *this, KSPROPSETID_BdaFrequencyFilter, KSPROPERTY_BDA_RF_TUNER_POLARITY, &P::polarisation);
    onTuning(table, *this, KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_LOW_BAND, &P::lnbLowOscillator);
    onTuning(table, *this, KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_LOF_HIGH_BAND, &P::lnbHighOscillator);
    onTuning(table, *this, KSPROPSETID_BdaLNBInfo, KSPROPERTY_BDA_LNB_SWITCH_FREQUENCY, &P::lnbSwitchFrequency);
    table.onGetValue<LONG>(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_STRENGTH, [this](LONG& value) {
        value = strength();
        return S_OK;
    });
    // Commands travel as a Get whose instance is the command block.
    table.onGet(KSPROPSETID_CardCommand, KSPROPERTY_CARD_COMMAND, [this](const PropertyRequest& r, DWORD* returned) {
        const uint8_t* block = static_cast<const uint8_t*>(r.instance);
        if (!command(block, r.instance ? r.instanceLength : 0))
            return E_INVALIDARG;
        if (returned)
            *returned = 0;
        return S_OK;
    });
}

void Card::addTunerOutputProperties(PropertyTable& table)
{
    using P = SatelliteParams;
    onTuning(table, *this, KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_MODULATION_TYPE, &P::modulation);
    onTuning(table, *this, KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_INNER_FEC_RATE, &P::innerFecRate);
    onTuning(table, *this, KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SYMBOL_RATE, &P::symbolRate);
    onTuning(table, *this, KSPROPSETID_BdaDigitalDemodulator, KSPROPERTY_BDA_SPECTRAL_INVERSION, &P::spectralInversion);
    onTuning(table, *this, KSPROPSETID_CardStream, KSPROPERTY_CARD_STREAM_ID, &P::streamId);
    onTuning(table, *this, KSPROPSETID_CardStream, KSPROPERTY_CARD_PLS_MODE, &P::plsMode);
    onTuning(table, *this, KSPROPSETID_CardStream, KSPROPERTY_CARD_PLS_CODE, &P::plsCode);
    if (deliversBasebandFrames())
        onTuning(table, *this, KSPROPSETID_CardStream, KSPROPERTY_CARD_BASEBAND_FRAMES, &P::basebandFrames);
    table.onGetValue<LONG>(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_QUALITY, [this](LONG& value) {
        value = quality();
        return S_OK;
    });
    table.onGetValue<LONG>(KSPROPSETID_BdaSignalStats, KSPROPERTY_BDA_SIGNAL_LOCKED, [this](LONG& value) {
        value = locked() ? 1 : 0;
        return S_OK;
    });
    if (model.extensionsOnTunerOutput)
        addExtensionProperties(table);
}

void Card::addExtensionProperties(PropertyTable& table)
{
    table.onSetValue<DWORD>(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_ACCESS, [this](DWORD on) {
        macAccess.store(on != 0);
        return S_OK;
    });
    table.onGet(KSPROPSETID_CardMac, KSPROPERTY_CARD_MAC_READ, [this](const PropertyRequest& r, DWORD* returned) {
        if (!macAccess.load())
            return E_ACCESSDENIED;
        const uint8_t* request = static_cast<const uint8_t*>(r.instance);
        const bool fromInstance = request && card::isMacReadBlock(request, r.instanceLength);
        if (!fromInstance && !card::isMacReadBlock(static_cast<const uint8_t*>(r.data), r.dataLength))
            return E_INVALIDARG;
        if (r.dataLength < card::kMacBlockSize)
            return E_KS_BUFFER_TOO_SMALL;
        uint8_t* block = static_cast<uint8_t*>(r.data);
        if (fromInstance)
            std::memmove(block, request, card::kMacBlockSize);
        const std::array<uint8_t, 6> mac = macAddress();
        std::memcpy(block + card::kMacOffset, mac.data(), mac.size());
        if (returned)
            *returned = card::kMacBlockSize;
        return S_OK;
    });
    // The receiver only asks whether the infrared set is there.
    table.onGet(PROPSETID_VIDCAP_CUSTOM_IRCAPTURE, KSPROPERTY_IRCAPTURE_COMMAND,
                [](const PropertyRequest&, DWORD* returned) {
                    if (returned)
                        *returned = 0;
                    return S_OK;
                });
}

} // namespace cardfilters
