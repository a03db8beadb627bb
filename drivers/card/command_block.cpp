#include "drivers/card/command_block.h"

#include <cstring>

namespace card {

namespace {

uint32_t readLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
        | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

CardCommand parseCommandBlock(const uint8_t* block, size_t size)
{
    CardCommand command;
    if (block == nullptr || size < kCommandBlockSize)
        return command;
    const uint32_t flag1 = readLe32(block + kDiseqcFlagOffset1), flag2 = readLe32(block + kDiseqcFlagOffset2);
    if (flag1 == 1 && flag2 == 1) {
        const size_t length = block[kDiseqcLengthOffset];
        if (length == 0 || length > kMaxDiseqcLength)
            return command;
        command.kind = CardCommand::Diseqc;
        command.length = length;
        std::memcpy(command.message.data(), block, length);
    } else if (flag1 == 0 && flag2 == 0) {
        const uint32_t power = readLe32(block + kPowerOffset);
        if (power > 1)
            return command;
        command.kind = CardCommand::LnbPower;
        command.powerOn = power == 1;
    }
    return command;
}

bool isMacReadBlock(const uint8_t* block, size_t size)
{
    return block != nullptr && size >= kMacBlockSize && block[0] == 0x01 && block[1] == 0xA0 && block[2] == 0x01
        && block[3] == 0x10 && block[11] == 0x06;
}

} // namespace card
