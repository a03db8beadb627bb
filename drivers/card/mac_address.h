// A card's MAC address as the environment gives it (KEST_SIM_MAC, KEST_DVB_MAC).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace card {

using MacAddress = std::array<uint8_t, 6>;

// "02:11:22:33:44:55" (hex digits of either case); false for anything else.
bool parseMac(const std::string& text, MacAddress& mac);

} // namespace card
