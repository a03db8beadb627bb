#include "drivers/card/tuning.h"

namespace card {

bool isHighBand(const SatelliteParams& tuning)
{
    return tuning.lnbHighOscillator != 0 && tuning.lnbSwitchFrequency != 0
        && tuning.carrierFrequency >= tuning.lnbSwitchFrequency;
}

uint32_t oscillatorKhz(const SatelliteParams& tuning)
{
    return isHighBand(tuning) ? tuning.lnbHighOscillator : tuning.lnbLowOscillator;
}

uint32_t intermediateFrequencyKhz(const SatelliteParams& tuning)
{
    const uint32_t oscillator = oscillatorKhz(tuning);
    const uint32_t carrier = tuning.carrierFrequency;
    return carrier >= oscillator ? carrier - oscillator : oscillator - carrier;
}

bool isPlausible(const SatelliteParams& tuning, bool lnbPowered)
{
    const uint32_t intermediate = intermediateFrequencyKhz(tuning);
    return lnbPowered && intermediate >= kMinIntermediateKhz && intermediate <= kMaxIntermediateKhz
        && tuning.symbolRate >= kMinSymbolRateKsps && tuning.symbolRate <= kMaxSymbolRateKsps;
}

} // namespace card
