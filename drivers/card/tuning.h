// What a card driver needs to know about a tuning: the values the receiver
// writes through the published properties, and the band arithmetic of an LNB.
#pragma once

#include <cstdint>

namespace card {

// Polarisation codes as the receiver writes them.
constexpr int32_t kPolarisationHorizontal = 1;
constexpr int32_t kPolarisationVertical = 2;
// Modulation codes: 0 not defined, 20 QPSK, 21 sent for DVB-S2.
constexpr int32_t kModulationNotDefined = 0;
constexpr int32_t kModulationQpsk = 20;
constexpr int32_t kModulationDvbS2 = 21;

struct Tuning {
    uint32_t carrierKhz = 12565000;
    int32_t polarisation = kPolarisationHorizontal;
    uint32_t lofLowKhz = 9750000;
    uint32_t lofHighKhz = 10600000;
    uint32_t switchKhz = 11700000;
    int32_t spectralInversion = 4;
    uint32_t symbolRateKsps = 24000;
    int32_t innerFec = 0;
    int32_t modulation = kModulationQpsk;
};

// The high band is used when the LNB has a second oscillator and a switch
// frequency, and the carrier lies at or above it.
bool isHighBand(const Tuning& tuning);
// The oscillator of the band in use.
uint32_t oscillatorKhz(const Tuning& tuning);
// |carrier - oscillator|: also right for C-band LNBs, whose oscillator lies
// above the carrier.
uint32_t intermediateFrequencyKhz(const Tuning& tuning);

// The window a satellite tuner accepts.
constexpr uint32_t kMinIntermediateKhz = 950000;
constexpr uint32_t kMaxIntermediateKhz = 2150000;
constexpr uint32_t kMinSymbolRateKsps = 1000;
constexpr uint32_t kMaxSymbolRateKsps = 45000;

// LNB supplied, intermediate frequency and symbol rate within the windows above.
bool isPlausible(const Tuning& tuning, bool lnbPowered);

} // namespace card
