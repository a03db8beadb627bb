#include "tuner/command_blocks.h"

#include <algorithm>
#include <cstring>

namespace tuner {

namespace card = platform::ks::card;

namespace {
void putWord(CommandBlock& block, size_t offset, uint32_t value)
{
    const BYTE bytes[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    std::memcpy(block.data() + offset, bytes, sizeof(bytes));
}
} // namespace

CommandBlock diseqcBlock(const BYTE* message, size_t length)
{
    CommandBlock block{};
    length = message ? std::min(length, card::kMaxMessageLength) : 0;
    if (length)
        std::memcpy(block.data() + card::kMessageOffset, message, length);
    block[card::kMessageLengthOffset] = static_cast<BYTE>(length);
    putWord(block, card::kDiseqcFlagOffset1, 1);
    putWord(block, card::kDiseqcFlagOffset2, 1);
    return block;
}

CommandBlock powerBlock(bool on)
{
    CommandBlock block{};
    putWord(block, card::kPowerOffset, on ? 1 : 0);
    return block;
}

MacBlock macReadBlock()
{
    MacBlock block{};
    std::memcpy(block.data(), card::kMacBlockHeader, sizeof(card::kMacBlockHeader));
    block[card::kMacLengthOffset] = 6;
    return block;
}

} // namespace tuner
