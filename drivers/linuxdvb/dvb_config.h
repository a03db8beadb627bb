// Which Linux DVB adapters the receiver sees, and as which card model.
#pragma once

#include "drivers/linuxdvb/dvb_device.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linuxdvb {

struct DvbCard {
    int adapter = 0;
    int frontend = 0;
    std::string model = "cedar"; // alder, birch, cedar, larch, maple or spruce
};

// One "dvb:ADAPTER[:FRONTEND]:MODEL" entry of KEST_CARD (without others
// separated by commas). Nothing for anything else.
std::optional<DvbCard> parseCardEntry(const std::string& entry);

// The first adapter (0..15, frontends 0..3) whose frontend offers DVB-S or
// DVB-S2, presented as Cedar; nothing when there is none.
std::optional<DvbCard> findSatelliteAdapter(DvbDevices& devices);

// KEST_DVB_MAC when set, not empty and well formed; otherwise a locally administered
// unicast address derived from the adapter number and the frontend's name,
// the same on every start with the same card.
std::array<uint8_t, 6> cardMacAddress(int adapter, int frontend, const std::string& frontendName);

} // namespace linuxdvb
