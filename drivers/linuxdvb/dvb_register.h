// What the programs ask of the Linux DVB card driver: install the cards that
// KEST_CARD names, and tell it which PIDs the receiver decodes.
#pragma once

#include "drivers/linuxdvb/dvb_device.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace linuxdvb {

// Writes up to `capacity` PIDs the receiver decodes into `pids`; their count.
// Asked while one filter per PID stands in for the whole multiplex.
using PidSource = std::function<size_t(uint16_t* pids, size_t capacity)>;

// The PIDs the receiver decodes, for adapters that cannot deliver the whole multiplex.
void setPidSource(PidSource source);

// Reads KEST_CARD and registers the "dvb:ADAPTER[:FRONTEND]:MODEL" entries it
// names (other entries are left to their drivers); when KEST_CARD is unset,
// the first adapter whose frontend tunes DVB-S or DVB-S2, as Cedar. False with
// one line per fault in *error (a malformed entry, a frontend that cannot be
// opened, a malformed KEST_DVB_MAC); the cards that could be had are installed.
bool installFromEnvironment(std::string* error = nullptr, DvbDevices& devices = systemDevices());

} // namespace linuxdvb
