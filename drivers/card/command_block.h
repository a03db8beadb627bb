// The card's extension requests, as its driver sees them: the 188-byte command
// block (a DiSEqC message or the LNB supply switch) and the 28-byte MAC block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace card {

constexpr size_t kCommandBlockSize = 188;
constexpr size_t kMaxDiseqcLength = 151;
constexpr size_t kDiseqcLengthOffset = 151;
constexpr size_t kDiseqcFlagOffset1 = 164;
constexpr size_t kDiseqcFlagOffset2 = 172;
constexpr size_t kPowerOffset = 184;

constexpr size_t kMacBlockSize = 28;
constexpr size_t kMacOffset = 12;

struct CardCommand {
    enum Kind { Invalid, Diseqc, LnbPower } kind = Invalid;
    std::array<uint8_t, kMaxDiseqcLength> message{};
    size_t length = 0;     // DiSEqC message bytes
    bool powerOn = false;  // LnbPower
};

// Reads a command block of `size` bytes (at least 188, else Invalid). A block
// with both flag words 1 and a length of 1..151 is a DiSEqC message; one with
// both 0 switches the supply by the word at 184 (0 off, 1 on); anything else
// is Invalid.
CardCommand parseCommandBlock(const uint8_t* block, size_t size);

// True for the MAC read block (01 A0 01 10 at 0, 06 at 11); the driver then
// writes the address at offset 12.
bool isMacReadBlock(const uint8_t* block, size_t size);

} // namespace card
