#include "drivers/card/tuning.h"

namespace card {

bool isHighBand(const Tuning& tuning)
{
    return tuning.lofHighKhz != 0 && tuning.switchKhz != 0 && tuning.carrierKhz >= tuning.switchKhz;
}

uint32_t oscillatorKhz(const Tuning& tuning)
{
    return isHighBand(tuning) ? tuning.lofHighKhz : tuning.lofLowKhz;
}

uint32_t intermediateFrequencyKhz(const Tuning& tuning)
{
    const uint32_t oscillator = oscillatorKhz(tuning);
    return tuning.carrierKhz >= oscillator ? tuning.carrierKhz - oscillator : oscillator - tuning.carrierKhz;
}

bool isPlausible(const Tuning& tuning, bool lnbPowered)
{
    const uint32_t intermediate = intermediateFrequencyKhz(tuning);
    return lnbPowered && intermediate >= kMinIntermediateKhz && intermediate <= kMaxIntermediateKhz
        && tuning.symbolRateKsps >= kMinSymbolRateKsps && tuning.symbolRateKsps <= kMaxSymbolRateKsps;
}

} // namespace card
