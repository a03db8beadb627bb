// A Linux DVB adapter presented as a catalogue model's filters (see
// drivers/cardfilters): tuning, commands, signal and MAC from the frontend and
// the configuration, the capture filter's stream read from the frontend's dvr.
#pragma once

#include "drivers/cardfilters/card_filters.h"
#include "drivers/linuxdvb/dvb_card.h"
#include "drivers/linuxdvb/dvb_register.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace linuxdvb {

class DvbFilterCard final : public cardfilters::Card {
public:
    DvbFilterCard(DvbDevices& devices, const DvbCard& card, PidSource wantedPids);

    // Opens the frontend for the whole run. False with *error naming the device.
    bool open(std::string* error) { return device_.open(error); }
    void close() { device_.close(); }

    bool commit(const SatelliteParams& tuning) override { return device_.frontend().commit(tuning); }
    bool command(const uint8_t* block, size_t size) override { return device_.command(block, size); }
    // Asked of the frontend with bit 31 of DTV_STREAM_ID; whether it obeys is its maker's.
    bool deliversBasebandFrames() const override { return true; }
    // A vanished device reports no lock and no signal.
    bool locked() override;
    int32_t strength() override;
    int32_t quality() override;
    std::array<uint8_t, 6> macAddress() override { return device_.macAddress(); }
    std::unique_ptr<cardfilters::CaptureStream> createCaptureStream(platform::BaseFilter* filter) override;

    DvbCardDevice& device() { return device_; }
    size_t wantedPids(uint16_t* pids, size_t capacity) const;
    // Set when the stream ends because the device went away; a stream that starts again clears it.
    void setVanished(bool vanished) { vanished_.store(vanished, std::memory_order_relaxed); }
    bool vanished() const { return vanished_.load(std::memory_order_relaxed); }

private:
    SignalStatus status();

    DvbCardDevice device_;
    PidSource wantedPids_;
    std::atomic<bool> vanished_{false};
};

// Opens the card's frontend and registers its model's filters. Null with
// *error for an unknown model or a frontend that cannot be opened.
std::shared_ptr<DvbFilterCard> registerDvbCard(DvbDevices& devices, const DvbCard& card, std::string* error = nullptr);
// Removes every card registered so far and closes their frontends.
void unregisterDvbCards();

} // namespace linuxdvb
