// One simulated card: its model, configuration and tuner, shared by every filter
// object the device enumerator makes for it (detection and each graph build bind anew).
#pragma once

#include "drivers/simcard/sim_config.h"
#include "drivers/simcard/sim_frontend.h"
#include "platform/ks/property_table.h"

#include <atomic>
#include <string>

namespace simcard {

struct SimCardModel {
    int32_t id;                    // catalogue model id, 1..6
    std::wstring tunerName;        // friendly names as registered
    std::wstring captureName;
    std::wstring videoCaptureName; // empty: none (Alder, Maple)
    bool extensionsOnTunerOutput;  // Maple: MAC and infrared on the tuner's transport output pin
};

// The model of a catalogue id; false for an id outside 1..6.
bool simCardModel(int32_t id, SimCardModel* model);

struct SimCard {
    SimCardModel model;
    SimConfig config;
    SimFrontend frontend;
    // Pin names of the tuner filter; a card on a Cyrillic system may name them otherwise.
    std::wstring inputPinName = L"Input0";
    std::wstring outputPinName = L"MPEG2 Transport";
    std::atomic<bool> macAccess{false};
    // False once the card is pulled out: every property request fails, the stream ends.
    std::atomic<bool> present{true};

    // What a request to the card gives before its handler runs.
    HRESULT availability() const { return present.load() ? S_OK : E_DEVICE_NOT_CONNECTED; }

    // The card driver's properties, by where they are reached.
    void addTunerInputProperties(platform::ks::PropertyTable& table);
    void addTunerOutputProperties(platform::ks::PropertyTable& table);
    void addExtensionProperties(platform::ks::PropertyTable& table); // MAC and infrared sets
};

} // namespace simcard
