// MPE decoding and frame batching
#include "decoder/adapter.h"
#include "decoder/crc32.h"
#include "decoder/decoder.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kMinimumBuffer = 16;
constexpr uint32_t kMinimumSectionLength = 16;
constexpr uint8_t kFlagsMask = static_cast<uint8_t>(~0x02); // LLC_SNAP_flag ignored
constexpr uint8_t kFlagsExpected = 0xC1;
constexpr uint8_t kLlcSnapFlag = 0x02;
constexpr uint8_t kLlcSnapHeader[6] = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00};
constexpr uint8_t kSectionSyntaxIndicator = 0x80; // in byte 1

// Station address of a section: MAC_address_1..6 = bytes 11, 10, 9, 8, 4, 3.
inline bool accepted(const uint8_t* section, const uint8_t* filter)
{
    if (section[11] == filter[0] && section[10] == filter[1] && section[9] == filter[2] && section[8] == filter[3]
        && section[4] == filter[4] && section[3] == filter[5])
        return true;
    if (section[11] == 0x01 && section[10] == 0x00 && section[9] == 0x5E)
        return true; // IPv4 multicast
    if (section[11] == 0x33 && section[10] == 0x33)
        return true; // IPv6 multicast (RFC 2464)
    return section[11] == 0xFF && section[10] == 0xFF && section[9] == 0xFF; // broadcast
}

// A section with section_syntax_indicator 1 ends in a CRC_32, and the CRC over
// all of its bytes is then 0. With the indicator 0 the last four bytes are the
// DSM-CC checksum instead, which is not verified: such sections pass.
inline bool checksumHolds(const uint8_t* section, uint32_t size)
{
    if ((section[1] & kSectionSyntaxIndicator) == 0)
        return true;
    return crc32Mpeg(section, size) == 0;
}

// Bytes at the start of frame slot 0 that may be non-zero: the longest frame
// built since slot 0 was last cleared. Only decodeMpeBuffer writes frameBatch
// (the device must not write into it), so this and the frame length and count
// are all that can differ from zero.
uint32_t g_slot0Dirty = 0;
bool g_batchCleared = false;

// Every buffer walk starts from a batch of zeros. Instead of filling all 24388
// bytes, only what can be non-zero is cleared: the same batch contents at every
// sendFrames, for about a tenth of the cost (the full fill measured as 90% of
// the time of a one-section buffer).
inline void clearFrameBatch(FrameBatch& batch)
{
    if (!g_batchCleared) {
        std::memset(&batch, 0, sizeof batch);
        g_batchCleared = true;
    } else {
        std::memset(batch.frames[0], 0, g_slot0Dirty);
        batch.frameLengths[0] = 0;
        batch.frameCount = 0;
    }
    g_slot0Dirty = 0;
}

// Checks an accepted section and sends its datagram as one frame. False when
// the fault found ends the walk of the buffer.
bool decodeSection(DecoderState& s, const uint8_t* p, uint32_t sectionSize, uint32_t remaining)
{
    // Corrupted on the way: nothing of it is trusted, not even its flags, but
    // its length still leads to the next section (a corrupted length makes the
    // walk end on bytes that are no section, or fail their checksum).
    if (!checksumHolds(p, sectionSize)) {
        countError(s.rxCrcErrors);
        return true;
    }
    FrameBatch& batch = s.frameBatch;
    // Flags test: reserved 11, scrambling 00 00, current_next 1.
    if ((p[5] & kFlagsMask) != kFlagsExpected) {
        countError(s.rxCrcErrors);
        return false;
    }
    uint32_t datagramOffset = 12;
    const bool llcSnap = (p[5] & kLlcSnapFlag) != 0;
    if (llcSnap) {
        if (remaining < 24 || std::memcmp(p + 12, kLlcSnapHeader, sizeof kLlcSnapHeader) != 0) {
            countError(s.rxDropped);
            return false;
        }
        datagramOffset = 20;
    }

    // Bounds: the IP header bytes read, then the datagram itself, must lie
    // within the section (which lies within the buffer), and the datagram
    // must fit a frame slot. Such a section is dropped and the walk goes on
    // with the next one: the section itself is well delimited.
    const uint8_t* datagram = p + datagramOffset;
    bool fits = datagramOffset < sectionSize;
    uint32_t n = 0;
    bool ipv6 = false;
    if (fits) {
        ipv6 = (datagram[0] >> 4) == 6;
        const uint32_t headerBytes = ipv6 ? 6 : 4;
        fits = datagramOffset + headerBytes <= sectionSize;
    }
    if (fits) {
        n = ipv6 ? 40 + ((uint32_t(datagram[4]) << 8) | datagram[5])
                 : (uint32_t(datagram[2] & 0x0F) << 8) | datagram[3];
        fits = n <= kMaxDatagramSize && datagramOffset + n <= sectionSize;
    }
    if (!fits) {
        countError(s.rxLengthErrors);
        return true;
    }

    uint8_t* frame = batch.frames[0];
    std::memcpy(frame + kEthernetHeaderSize, datagram, n);
    frame[0] = p[11];
    frame[1] = p[10];
    frame[2] = p[9];
    frame[3] = p[8];
    frame[4] = p[4];
    frame[5] = p[3];
    std::memset(frame + 6, 0, 6);
    if (llcSnap) {
        frame[12] = p[18];
        frame[13] = p[19];
    } else if (ipv6) {
        frame[12] = 0x86;
        frame[13] = 0xDD;
    } else {
        frame[12] = 0x08;
        frame[13] = 0x00;
    }
    batch.frameLengths[0] = n + static_cast<uint32_t>(kEthernetHeaderSize);
    if (batch.frameLengths[0] > g_slot0Dirty)
        g_slot0Dirty = batch.frameLengths[0];
    batch.frameCount = 1;
    // The result is not looked at.
    sendFrames(s.adapterHandle, &batch, static_cast<DWORD>(sizeof batch));
    batch.frameCount = 0;
    return true;
}

} // namespace

void decodeMpeBuffer(int bufferHandle)
{
    DecoderState& s = g_decoder;
    FrameBatch& batch = s.frameBatch;

    clearFrameBatch(batch);
    const uint32_t length = s.sectionBuffers.bufferLength(bufferHandle);
    const uint8_t* p = s.sectionBuffers.bufferData(bufferHandle);
    if (length < kMinimumBuffer) {
        std::printf("IP/MPE packet length = %d too small.\n", static_cast<int>(length));
        countError(s.rxLengthErrors);
        return;
    }
    if (length == kMinimumBuffer)
        return;

    // The walk; R > 16 holds at the top of every round, so bytes 0..16 of p
    // lie within the buffer.
    uint32_t remaining = length;
    do {
        if (p[0] != kMpeTableId)
            return; // stuffing (0xFF) ends the walk this way
        const uint32_t sectionLength = (uint32_t(p[1] & 0x0F) << 8) | p[2];
        if (sectionLength < kMinimumSectionLength)
            return;
        const uint32_t sectionSize = 3 + sectionLength;
        // Bound: a section that runs past the buffer's data. Nothing can follow
        // it inside the buffer, so this also ends the walk.
        if (sectionSize > remaining) {
            countError(s.rxLengthErrors);
            return;
        }

        if (accepted(p, s.macFilter) && !decodeSection(s, p, sectionSize, remaining))
            return;
        remaining -= sectionSize;
        p += sectionSize;
    } while (remaining > kMinimumBuffer);
}
