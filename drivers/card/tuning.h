// What a card driver needs to know about a tuning: the codes the receiver
// writes through the published properties into a SatelliteParams, and the band
// arithmetic of an LNB.
#pragma once

#include "tuner/satellite_params.h"

#include <cstdint>

namespace card {

// Polarisation codes as the receiver writes them.
constexpr int32_t kPolarisationHorizontal = 1;
constexpr int32_t kPolarisationVertical = 2;
// Modulation codes: 0 not defined, 20 QPSK, 21 sent for DVB-S2.
constexpr int32_t kModulationNotDefined = 0;
constexpr int32_t kModulationQpsk = 20;
constexpr int32_t kModulationDvbS2 = 21;

// The high band is used when the LNB has a second oscillator and a switch
// frequency, and the carrier lies at or above it.
bool isHighBand(const SatelliteParams& tuning);
// The oscillator of the band in use.
uint32_t oscillatorKhz(const SatelliteParams& tuning);
// |carrier - oscillator|: also right for C-band LNBs, whose oscillator lies
// above the carrier.
uint32_t intermediateFrequencyKhz(const SatelliteParams& tuning);

// The window a satellite tuner accepts.
constexpr uint32_t kMinIntermediateKhz = 950000;
constexpr uint32_t kMaxIntermediateKhz = 2150000;
constexpr uint32_t kMinSymbolRateKsps = 1000;
constexpr uint32_t kMaxSymbolRateKsps = 45000;

// LNB supplied, intermediate frequency and symbol rate within the windows above.
bool isPlausible(const SatelliteParams& tuning, bool lnbPowered);

} // namespace card
