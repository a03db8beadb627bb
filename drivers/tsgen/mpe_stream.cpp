#include "drivers/tsgen/mpe_stream.h"

#include <cstring>

namespace tsgen {

namespace {

uint16_t ipChecksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (length & 1)
        sum += static_cast<uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, static_cast<uint16_t>(v >> 16));
    put16(p + 2, static_cast<uint16_t>(v));
}

} // namespace

uint32_t crc32Mpeg(const uint8_t* data, size_t length, uint32_t crc)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

std::vector<uint8_t> makeUdpDatagram(uint32_t sourceIp, uint32_t destinationIp, uint16_t sourcePort,
                                     uint16_t destinationPort, const uint8_t* payload, size_t length)
{
    std::vector<uint8_t> d(28 + length);
    uint8_t* ip = d.data();
    ip[0] = 0x45;
    put16(ip + 2, static_cast<uint16_t>(d.size()));
    ip[6] = 0x40; // don't fragment
    ip[8] = 64;
    ip[9] = 17;
    put32(ip + 12, sourceIp);
    put32(ip + 16, destinationIp);
    put16(ip + 10, ipChecksum(ip, 20));
    uint8_t* udp = ip + 20;
    put16(udp, sourcePort);
    put16(udp + 2, destinationPort);
    put16(udp + 4, static_cast<uint16_t>(8 + length));
    if (length > 0)
        std::memcpy(udp + 8, payload, length);
    // UDP checksum 0: none, allowed for IPv4.
    return d;
}

void MpeStreamWriter::writeSection(const MacAddress& mac, const uint8_t* datagram, size_t length,
                                   std::vector<uint8_t>& out, bool llcSnap)
{
    const size_t header = llcSnap ? 20 : 12;
    const size_t total = header + length + 4;
    const size_t sectionLength = total - 3;
    uint8_t head[20];
    head[0] = 0x3E;
    head[1] = static_cast<uint8_t>(0xB0 | ((sectionLength >> 8) & 0x0F));
    head[2] = static_cast<uint8_t>(sectionLength);
    head[3] = mac[5];
    head[4] = mac[4];
    head[5] = llcSnap ? 0xC3 : 0xC1;
    head[6] = 0;
    head[7] = 0;
    head[8] = mac[3];
    head[9] = mac[2];
    head[10] = mac[1];
    head[11] = mac[0];
    if (llcSnap) {
        const uint8_t snap[8] = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00};
        std::memcpy(head + 12, snap, 8);
    }
    const uint32_t crc = crc32Mpeg(datagram, length, crc32Mpeg(head, header));
    uint8_t tail[4];
    put32(tail, crc);

    packets_.emit(head, header, true, packed_, out);
    packets_.emit(datagram, length, false, packed_, out);
    packets_.emit(tail, 4, false, packed_, out);
    if (!packed_)
        flush(out);
}

void MpeStreamWriter::flush(std::vector<uint8_t>& out) { packets_.flush(out); }

void writeNullPacket(std::vector<uint8_t>& out)
{
    uint8_t packet[kPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x47;
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
    out.insert(out.end(), packet, packet + kPacketSize);
}

void writePat(std::vector<uint8_t>& out, uint8_t& continuity)
{
    uint8_t packet[kPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x47;
    packet[1] = 0x40;
    packet[2] = 0x00;
    packet[3] = static_cast<uint8_t>(0x10 | continuity);
    continuity = (continuity + 1) & 0x0F;
    packet[4] = 0;
    uint8_t* s = packet + 5;
    const uint8_t section[12] = {0x00, 0xB0, 13, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00};
    std::memcpy(s, section, sizeof section);
    put32(s + 12, crc32Mpeg(s, 12));
    out.insert(out.end(), packet, packet + kPacketSize);
}

} // namespace tsgen
