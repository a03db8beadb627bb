// What the simulated card is told by the environment (KEST_SIM_*).
#pragma once

#include "drivers/card/mac_address.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simcard {

using card::MacAddress;
using card::parseMac;

// A locally administered address, so that it can never clash with a real card.
constexpr MacAddress kDefaultMac = {0x02, 0x4B, 0x45, 0x53, 0x54, 0x01};
constexpr uint32_t kDefaultRateKbps = 4000;

// One input stream of a multistream recording: its ISI and its transport-stream file.
struct SimStream {
    int isi = 0;
    std::string file;
};

struct SimConfig {
    std::string streamFile;        // KEST_SIM_TS: empty for the built-in traffic
    // KEST_SIM_TS as "isi3=first.ts;isi7=second.ts": a multistream recording, one file
    // per input stream (then streamFile is empty).
    std::vector<SimStream> streams;
    bool loop = true;              // KEST_SIM_LOOP: replay the file forever
    uint32_t rateKbps = kDefaultRateKbps; // KEST_SIM_RATE: 0 as fast as it is taken
    MacAddress mac = kDefaultMac;  // KEST_SIM_MAC
};

// Reads the variables. A malformed value leaves its default in place and is
// named in *error (one line per value); the result is false then.
bool simConfigFromEnvironment(SimConfig& config, std::string* error);

} // namespace simcard
