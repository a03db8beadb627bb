// Band arithmetic and the extension requests that every card driver reads.
#include "drivers/card/command_block.h"
#include "drivers/card/tuning.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// The card driver's block layouts, written out as the driver documents them.
constexpr size_t kCommandBlockSize = 188;
constexpr size_t kLengthAt = 151;
constexpr size_t kFlag1At = 164;
constexpr size_t kFlag2At = 172;
constexpr size_t kPowerAt = 184;

SatelliteParams ku(uint32_t carrierMhz)
{
    SatelliteParams t;
    t.carrierFrequency = carrierMhz * 1000;
    return t;
}

void putLe32(std::vector<uint8_t>& block, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> diseqcBlock(const std::vector<uint8_t>& message)
{
    std::vector<uint8_t> block(kCommandBlockSize, 0);
    std::memcpy(block.data(), message.data(), message.size());
    block[kLengthAt] = static_cast<uint8_t>(message.size());
    putLe32(block, kFlag1At, 1);
    putLe32(block, kFlag2At, 1);
    return block;
}

std::vector<uint8_t> powerBlock(uint32_t on)
{
    std::vector<uint8_t> block(kCommandBlockSize, 0);
    putLe32(block, kPowerAt, on);
    return block;
}

} // namespace

TEST(CardTuning, UniversalLnbSwitchesBandAtTheSwitchFrequency)
{
    EXPECT_FALSE(card::isHighBand(ku(11699)));
    EXPECT_EQ(card::intermediateFrequencyKhz(ku(11699)), 1949000u);
    EXPECT_TRUE(card::isHighBand(ku(11700)));
    EXPECT_EQ(card::intermediateFrequencyKhz(ku(11700)), 1100000u);
    EXPECT_EQ(card::intermediateFrequencyKhz(ku(12565)), 1965000u);
}

TEST(CardTuning, CBandAndSingleOscillatorLnbs)
{
    SatelliteParams c;
    c.carrierFrequency = 3800000;
    c.lnbLowOscillator = 5150000;
    c.lnbHighOscillator = 0;
    c.lnbSwitchFrequency = 0;
    EXPECT_FALSE(card::isHighBand(c));
    EXPECT_EQ(card::intermediateFrequencyKhz(c), 1350000u); // oscillator above the carrier
    SatelliteParams single = ku(11000);
    single.lnbLowOscillator = 10000000;
    single.lnbSwitchFrequency = 0;
    EXPECT_FALSE(card::isHighBand(single));
    EXPECT_EQ(card::intermediateFrequencyKhz(single), 1000000u);
}

TEST(CardTuning, PlausibleOnlyWithSupplyAndWithinTheWindows)
{
    SatelliteParams t = ku(12565);
    EXPECT_TRUE(card::isPlausible(t, true));
    EXPECT_FALSE(card::isPlausible(t, false));
    t.carrierFrequency = 9750000 + 949000;
    EXPECT_FALSE(card::isPlausible(t, true));
    t.carrierFrequency = 9750000 + 950000;
    EXPECT_TRUE(card::isPlausible(t, true));
    t = ku(12565);
    for (uint32_t rate : {999u, 45001u, 0u}) {
        t.symbolRate = rate;
        EXPECT_FALSE(card::isPlausible(t, true)) << rate;
    }
    for (uint32_t rate : {1000u, 45000u}) {
        t.symbolRate = rate;
        EXPECT_TRUE(card::isPlausible(t, true)) << rate;
    }
}

TEST(CardCommandBlock, DiseqcMessagesAndSupplySwitch)
{
    const std::vector<uint8_t> message = {0xE0, 0x31, 0x6B, 0x00};
    card::CardCommand c = card::parseCommandBlock(diseqcBlock(message).data(), kCommandBlockSize);
    ASSERT_EQ(c.kind, card::CardCommand::Diseqc);
    EXPECT_EQ(std::vector<uint8_t>(c.message.begin(), c.message.begin() + c.length), message);
    // The longest message fills offsets 0..150, right up to its length byte.
    std::vector<uint8_t> longest(151);
    for (size_t i = 0; i < longest.size(); ++i)
        longest[i] = static_cast<uint8_t>(0xE0 + i);
    c = card::parseCommandBlock(diseqcBlock(longest).data(), kCommandBlockSize);
    ASSERT_EQ(c.kind, card::CardCommand::Diseqc);
    EXPECT_EQ(std::vector<uint8_t>(c.message.begin(), c.message.begin() + c.length), longest);

    c = card::parseCommandBlock(powerBlock(1).data(), kCommandBlockSize);
    ASSERT_EQ(c.kind, card::CardCommand::LnbPower);
    EXPECT_TRUE(c.powerOn);
    c = card::parseCommandBlock(powerBlock(0).data(), kCommandBlockSize);
    ASSERT_EQ(c.kind, card::CardCommand::LnbPower);
    EXPECT_FALSE(c.powerOn);
}

TEST(CardCommandBlock, MalformedBlocksAreRefused)
{
    EXPECT_EQ(card::parseCommandBlock(nullptr, 188).kind, card::CardCommand::Invalid);
    EXPECT_EQ(card::parseCommandBlock(powerBlock(1).data(), 187).kind, card::CardCommand::Invalid);
    EXPECT_EQ(card::parseCommandBlock(powerBlock(2).data(), 188).kind, card::CardCommand::Invalid);
    std::vector<uint8_t> block = diseqcBlock({0xE0});
    block[kLengthAt] = 0;
    EXPECT_EQ(card::parseCommandBlock(block.data(), 188).kind, card::CardCommand::Invalid);
    block[kLengthAt] = 152;
    EXPECT_EQ(card::parseCommandBlock(block.data(), 188).kind, card::CardCommand::Invalid);
    block = diseqcBlock({0xE0});
    putLe32(block, kFlag2At, 0); // flags disagree
    EXPECT_EQ(card::parseCommandBlock(block.data(), 188).kind, card::CardCommand::Invalid);
}

TEST(CardCommandBlock, MacReadBlockIsRecognised)
{
    std::vector<uint8_t> block(28, 0);
    block[0] = 0x01;
    block[1] = 0xA0;
    block[2] = 0x01;
    block[3] = 0x10;
    block[11] = 0x06;
    EXPECT_TRUE(card::isMacReadBlock(block.data(), block.size()));
    EXPECT_FALSE(card::isMacReadBlock(block.data(), 27));
    block[11] = 0;
    EXPECT_FALSE(card::isMacReadBlock(block.data(), block.size()));
}
