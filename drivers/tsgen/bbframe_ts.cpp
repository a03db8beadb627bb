#include "drivers/tsgen/bbframe_ts.h"

#include "drivers/tsgen/packetizer.h"

#include <cstring>

namespace tsgen {

namespace {
// Bytes of the frame in one packet: behind 4 header bytes, the pointer field,
// table id, section length (2) and the marker byte.
constexpr size_t kChunk = kPacketSize - 9;
} // namespace

void BbFrameTsWriter::packet(uint8_t marker, const uint8_t* data, size_t length, std::vector<uint8_t>& out)
{
    uint8_t p[kPacketSize];
    std::memset(p, 0xFF, sizeof p);
    p[0] = 0x47;
    // Every packet holds one whole section behind its pointer field: each starts a unit.
    p[1] = static_cast<uint8_t>(0x40 | ((pid_ >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(pid_);
    p[3] = static_cast<uint8_t>(0x10 | continuity_);
    continuity_ = (continuity_ + 1) & 0x0F;
    p[4] = 0x00;
    p[5] = 0x80;
    const size_t sectionLength = length + 1;
    p[6] = static_cast<uint8_t>(sectionLength >> 8);
    p[7] = static_cast<uint8_t>(sectionLength);
    p[8] = marker;
    std::memcpy(p + 9, data, length);
    out.insert(out.end(), p, p + kPacketSize);
}

void BbFrameTsWriter::writeFrame(const uint8_t* frame, size_t length, std::vector<uint8_t>& out)
{
    size_t done = length < kChunk ? length : kChunk;
    packet(0xB8, frame, done, out);
    for (uint8_t n = 1; done < length; ++n) {
        const size_t chunk = length - done < kChunk ? length - done : kChunk;
        packet(n, frame + done, chunk, out);
        done += chunk;
    }
}

} // namespace tsgen
