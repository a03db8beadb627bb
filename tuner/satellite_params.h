// One tuning as it is written to the card: nine 32-bit fields, frequencies in kHz.
#pragma once

#include <cstdint>

struct SatelliteParams {
    uint32_t carrierFrequency = 12565000;   // kHz, the transponder's RF frequency
    int32_t polarisation = 1;               // 1 linear horizontal, 2 linear vertical
    uint32_t lnbLowOscillator = 9750000;    // kHz
    uint32_t lnbHighOscillator = 10600000;  // kHz
    uint32_t lnbSwitchFrequency = 11700000; // kHz
    int32_t spectralInversion = 4;
    uint32_t symbolRate = 24000;            // kS/s
    int32_t innerFecRate = 0;               // 0: not defined
    int32_t modulation = 20;                // 20 QPSK, 21 DVB-S2
};
static_assert(sizeof(SatelliteParams) == 36, "nine 32-bit fields");
