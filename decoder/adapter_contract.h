// The contract between the decoder and the virtual network adapter driver:
// device names and open modes, control codes, FrameBatch.
// Self-contained: the adapter driver (drivers/satnic) includes only this file.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <cstdint>

// ---- Device names -------------------------------------------------------------

// The only adapter number that is tried.
constexpr int kAdapterNumber = 1;
// Formatted with kAdapterNumber: first "\\.\SatNicDv-1", then "\\.\Global\SatNicDv-1".
constexpr const char* kAdapterDeviceNameFormat = "\\\\.\\SatNicDv-%d";
constexpr const char* kAdapterGlobalDeviceNameFormat = "\\\\.\\Global\\SatNicDv-%d";
// The name a driver registers with platform::registerDevice (reachable by both names above).
constexpr const char* kAdapterDeviceName = "SatNicDv-1";

// Open parameters of the two tries (share mode 0, OPEN_EXISTING, no security
// attributes, no template file).
constexpr DWORD kAdapterAccess = GENERIC_READ | GENERIC_WRITE; // first try, 0xC0000000
constexpr DWORD kAdapterGlobalAccess = MAXIMUM_ALLOWED;        // second try, 0x02000000
constexpr DWORD kAdapterShareMode = 0;
constexpr DWORD kAdapterFlags = FILE_ATTRIBUTE_NORMAL; // 0x80
static_assert(kAdapterAccess == 0xC0000000u, "desired access of the first open");
static_assert(kAdapterGlobalAccess == 0x02000000u, "desired access of the second open");
static_assert(kAdapterFlags == 0x80u, "flags of both opens");

// ---- Control codes (FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, FILE_ANY_ACCESS) ------------

// Input: one FrameBatch of kFrameBatchSize bytes. Output: none.
constexpr DWORD IOCTL_SEND_FRAMES = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x826, METHOD_BUFFERED, FILE_ANY_ACCESS);
// Input: none. Output: 4 bytes, the adapter's running byte count (unsigned 32-bit).
constexpr DWORD IOCTL_READ_BYTE_COUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x82F, METHOD_BUFFERED, FILE_ANY_ACCESS);
// Input: 6 bytes, the station address. Output: 6 bytes, into the same buffer.
constexpr DWORD IOCTL_SET_STATION_ADDRESS = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x836, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_SEND_FRAMES == 0x222098u, "IOCTL_SEND_FRAMES");
static_assert(IOCTL_READ_BYTE_COUNT == 0x2220BCu, "IOCTL_READ_BYTE_COUNT");
static_assert(IOCTL_SET_STATION_ADDRESS == 0x2220D8u, "IOCTL_SET_STATION_ADDRESS");

// Input: none. Output: 8 bytes, the frames the adapter could not pass on since it was
// installed (unsigned 64-bit): a full disk, an interface that went away. This driver's
// own addition; an adapter without it refuses the request.
constexpr DWORD IOCTL_READ_LOST_FRAMES = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x840, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(IOCTL_READ_LOST_FRAMES == 0x222100u, "IOCTL_READ_LOST_FRAMES");

constexpr DWORD kByteCountSize = 4;
constexpr DWORD kLostFrameCountSize = 8;
constexpr DWORD kStationAddressSize = 6;

// ---- FrameBatch: the input of IOCTL_SEND_FRAMES ----------------------------------

constexpr size_t kFrameSlotCount = 16;
constexpr size_t kFrameSlotSize = 1520;
constexpr size_t kEthernetHeaderSize = 14;
// The longest datagram a frame slot holds behind the Ethernet header.
constexpr size_t kMaxDatagramSize = kFrameSlotSize - kEthernetHeaderSize; // 1506
static_assert(kMaxDatagramSize == 1506, "1520-byte slot less the 14-byte header");

// 24388 bytes, little-endian: 16 frame slots of 1520 bytes (a frame, Ethernet II
// with the destination first, starts at the beginning of its slot), 16 frame
// lengths in bytes (entry i for slot i), and the number of frames, taken from
// slot 0 upwards.
struct FrameBatch {
    uint8_t frames[kFrameSlotCount][kFrameSlotSize];
    uint32_t frameLengths[kFrameSlotCount];
    uint32_t frameCount;
};

constexpr size_t kFrameBatchSize = 24388;
static_assert(sizeof(FrameBatch) == kFrameBatchSize, "FrameBatch is 24388 bytes");
static_assert(offsetof(FrameBatch, frames) == 0, "frame slots at offset 0");
static_assert(offsetof(FrameBatch, frameLengths) == 24320, "frame lengths at offset 24320");
static_assert(offsetof(FrameBatch, frameCount) == 24384, "frame count at offset 24384");
static_assert(alignof(FrameBatch) == 4, "no padding beyond 32-bit alignment");
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "FrameBatch is a little-endian wire format laid out with native integers");
#endif
