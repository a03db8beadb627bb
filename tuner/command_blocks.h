// The byte blocks of the card's extension requests.
#pragma once

#include "platform/ks/card_extension.h"

#include <array>

namespace tuner {

using CommandBlock = std::array<BYTE, platform::ks::card::kCommandBlockSize>;
using MacBlock = std::array<BYTE, platform::ks::card::kMacBlockSize>;

// A DiSEqC message of 1..151 bytes (longer ones are cut at 151).
CommandBlock diseqcBlock(const BYTE* message, size_t length);
// The LNB supply switch: 1 on, 0 off.
CommandBlock powerBlock(bool on);
// The MAC read request; the driver fills the address in at offset 12.
MacBlock macReadBlock();

} // namespace tuner
