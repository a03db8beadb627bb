// Pure helpers of the SatNic driver: addresses, the TAP destination rewrite, pcap headers.
#include "drivers/satnic/satnic_internal.h"

#include <sys/uio.h>

#include <cstdio>

namespace satnic::detail {

namespace {

void putLe16(uint8_t* out, uint16_t value)
{
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

Mac macFromBytes(const uint8_t* bytes)
{
    Mac mac = 0;
    for (int i = 0; i < 6; ++i)
        mac = (mac << 8) | bytes[i];
    return mac;
}

void macToBytes(Mac mac, uint8_t* bytes)
{
    for (int i = 5; i >= 0; --i) {
        bytes[i] = static_cast<uint8_t>(mac);
        mac >>= 8;
    }
}

std::string formatMac(Mac mac)
{
    uint8_t b[6];
    macToBytes(mac, b);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
}

bool takesInterfaceAddress(const uint8_t* destination, Mac station)
{
    // The individual/group bit is the least significant bit of the first byte.
    return (destination[0] & 0x01) == 0 && macFromBytes(destination) == station;
}

int interfaceFrame(const FrameView& frame, Mac station, const uint8_t* ownAddress, iovec* iov)
{
    if (!takesInterfaceAddress(frame.data, station)) {
        iov[0].iov_base = const_cast<uint8_t*>(frame.data);
        iov[0].iov_len = frame.length;
        return 1;
    }
    iov[0].iov_base = const_cast<uint8_t*>(ownAddress);
    iov[0].iov_len = 6;
    iov[1].iov_base = const_cast<uint8_t*>(frame.data + 6);
    iov[1].iov_len = frame.length - 6;
    return 2;
}

void encodePcapFileHeader(uint8_t* out)
{
    putLe32(out + 0, 0xA1B2C3D4u); // magic: microsecond timestamps
    putLe16(out + 4, 2);           // version 2.4
    putLe16(out + 6, 4);
    putLe32(out + 8, 0);           // thiszone: UTC
    putLe32(out + 12, 0);          // sigfigs
    putLe32(out + 16, kPcapSnapLength);
    putLe32(out + 20, 1);          // LINKTYPE_ETHERNET
}

void encodePcapRecordHeader(uint8_t* out, uint32_t seconds, uint32_t microseconds, uint32_t length)
{
    putLe32(out + 0, seconds);
    putLe32(out + 4, microseconds);
    putLe32(out + 8, length); // captured length: frames are never cut (1520 < snaplen)
    putLe32(out + 12, length); // original length
}

} // namespace satnic::detail
