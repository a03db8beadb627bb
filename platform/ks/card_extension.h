// The card driver's own property sets (DiSEqC and LNB supply, MAC address, infrared) and the
// layouts of their buffers. These are the driver's interface and are fixed byte for byte.
#pragma once

#include "platform/win32/guid.h"

#include <cstddef>

// Command set: property 0 is issued as a Get whose instance and data are both the command block.
inline constexpr GUID KSPROPSETID_CardCommand = {0xFAA8F3E5, 0x31D4, 0x4E41, {0x88, 0xEF, 0xD9, 0xEB, 0x71, 0x6F, 0x6E, 0xC9}};
constexpr DWORD KSPROPERTY_CARD_COMMAND = 0;

// MAC set: property 0 switches access on (1) and off (0); property 3 reads the address block.
inline constexpr GUID KSPROPSETID_CardMac = {0xCBBF16AE, 0x2A99, 0x477E, {0xB0, 0xD7, 0x9C, 0x22, 0x74, 0xEB, 0x20, 0x9E}};
constexpr DWORD KSPROPERTY_CARD_MAC_ACCESS = 0;
constexpr DWORD KSPROPERTY_CARD_MAC_READ = 3;

// Infrared receiver set; only its presence is probed.
inline constexpr GUID PROPSETID_VIDCAP_CUSTOM_IRCAPTURE = {0xB51C4994, 0x0054, 0x4749, {0x82, 0x43, 0x02, 0x9A, 0x66, 0x86, 0x36, 0x36}};
constexpr DWORD KSPROPERTY_IRCAPTURE_COMMAND = 1;

// Stream set, on the tuner's transport output pin: the DVB-S2 stream selection of a tuning,
// each a 4-byte value collected until the commit like the published ones. A card that can
// deliver baseband frames answers KSPROPERTY_CARD_BASEBAND_FRAMES; the others do not list it.
inline constexpr GUID KSPROPSETID_CardStream = {0x5B1C2E07, 0x8D4A, 0x4F36, {0xA1, 0x93, 0x27, 0x6E, 0x0C, 0x55, 0xB8, 0x41}};
constexpr DWORD KSPROPERTY_CARD_STREAM_ID = 0;       // input stream identifier 0..255, -1 none
constexpr DWORD KSPROPERTY_CARD_PLS_MODE = 1;        // 0 root, 1 gold
constexpr DWORD KSPROPERTY_CARD_PLS_CODE = 2;        // 0..262143
constexpr DWORD KSPROPERTY_CARD_BASEBAND_FRAMES = 3; // 1: deliver the baseband frames

namespace platform::ks::card {

// Command block (little-endian, zero unless written).
constexpr size_t kCommandBlockSize = 188;
constexpr size_t kMessageOffset = 0;        // DiSEqC message bytes
constexpr size_t kMaxMessageLength = 151;
constexpr size_t kMessageLengthOffset = 151; // 1 byte
constexpr size_t kDiseqcFlagOffset1 = 164;  // 4 bytes, 1 for a DiSEqC message
constexpr size_t kDiseqcFlagOffset2 = 172;  // 4 bytes, 1 for a DiSEqC message
constexpr size_t kPowerOffset = 184;        // 4 bytes, LNB supply 1 on / 0 off

// MAC read block.
constexpr size_t kMacBlockSize = 28;
constexpr BYTE kMacBlockHeader[4] = {0x01, 0xA0, 0x01, 0x10}; // offsets 0..3
constexpr size_t kMacLengthOffset = 11;     // holds 6
constexpr size_t kMacAddressOffset = 12;    // six bytes filled by the driver

} // namespace platform::ks::card
