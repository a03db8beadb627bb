// One tuning as it is written to the card: the nine published fields, frequencies
// in kHz, then the DVB-S2 stream selection, whose defaults tune as before it existed.
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
    int32_t streamId = -1;                  // input stream identifier 0..255; -1 none (single stream)
    int32_t plsMode = 1;                    // physical-layer scrambling code given as 0 root, 1 gold
    int32_t plsCode = 0;                    // 0..262143; gold 0 (root 1) is the unscrambled default
    int32_t basebandFrames = 0;             // 1: the card delivers the DVB-S2 baseband frames
};
static_assert(sizeof(SatelliteParams) == 52, "thirteen 32-bit fields");

// Whether a tuning asks for anything beyond the single unscrambled transport stream.
inline bool selectsStream(const SatelliteParams& p)
{
    return p.streamId != -1 || !(p.plsCode == 0 && p.plsMode == 1) || p.basebandFrames != 0;
}
