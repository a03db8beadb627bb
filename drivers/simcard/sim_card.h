// One simulated card: its model, configuration and tuner, shared by every filter
// object the device enumerator makes for it (detection and each graph build bind anew).
#pragma once

#include "drivers/cardfilters/card_filters.h"
#include "drivers/simcard/sim_config.h"
#include "drivers/simcard/sim_frontend.h"

namespace simcard {

struct SimCard final : cardfilters::Card {
    SimConfig config;
    SimFrontend frontend;
    bool basebandFrames = false;

    bool commit(const SatelliteParams& tuning) override { return frontend.commit(tuning); }
    bool command(const uint8_t* block, size_t size) override { return frontend.command(block, size); }
    // Whether it plays a pseudo transport stream of baseband frames (a file of it found at
    // registration).
    bool deliversBasebandFrames() const override { return basebandFrames; }
    bool locked() override { return frontend.locked(); }
    int32_t strength() override { return frontend.strength(); }
    int32_t quality() override { return frontend.quality(); }
    std::array<uint8_t, 6> macAddress() override { return config.mac; }
    // Paced, in samples of varying sizes, while the graph runs and the tuner is locked.
    std::unique_ptr<cardfilters::CaptureStream> createCaptureStream(platform::BaseFilter* filter) override;
};

} // namespace simcard
