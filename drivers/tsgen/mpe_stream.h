// Writes IP datagrams as DSM-CC MPE sections into an MPEG-2 transport stream:
// used by the stream generator, the benchmarks, the tests and the simulated card.
#pragma once

#include "drivers/tsgen/packetizer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

using MacAddress = std::array<uint8_t, 6>;

// Appends whole 188-byte packets to `out`.
class MpeStreamWriter {
public:
    explicit MpeStreamWriter(uint16_t pid) : packets_(pid, 1) {}

    // One MPE section carrying `datagram` for `destination`. With packed sections a
    // section starts right behind the previous one in the same packet (pointer field);
    // otherwise each section starts a packet of its own and the rest is stuffed.
    void writeSection(const MacAddress& destination, const uint8_t* datagram, size_t length,
                      std::vector<uint8_t>& out, bool llcSnap = false);
    // Finishes the packet in progress with stuffing bytes.
    void flush(std::vector<uint8_t>& out);

    void setPacked(bool packed) { packed_ = packed; }
    uint16_t pid() const { return packets_.pid(); }

private:
    Packetizer packets_;
    bool packed_ = true;
};

// MPEG-2 CRC_32 (polynomial 0x04C11DB7) as sections carry it.
// `crc` continues an earlier result over more bytes.
uint32_t crc32Mpeg(const uint8_t* data, size_t length, uint32_t crc = 0xFFFFFFFFu);

// An IPv4/UDP datagram with valid header checksum; the payload follows the 28 header bytes.
std::vector<uint8_t> makeUdpDatagram(uint32_t sourceIp, uint32_t destinationIp, uint16_t sourcePort,
                                     uint16_t destinationPort, const uint8_t* payload, size_t length);

// Appends a null packet (PID 0x1FFF) and a PAT with one programme.
void writeNullPacket(std::vector<uint8_t>& out);
void writePat(std::vector<uint8_t>& out, uint8_t& continuity);

} // namespace tsgen
