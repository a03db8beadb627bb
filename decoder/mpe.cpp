// MPE decoding and frame batching
#include "decoder/adapter.h"
#include "decoder/crc32.h"
#include "decoder/decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kMinimumBuffer = 16;
constexpr uint32_t kMinimumSectionLength = 16;
constexpr uint32_t kSectionHeaderSize = 3; // table_id and section_length
constexpr uint8_t kFlagsMask = static_cast<uint8_t>(~0x02); // LLC_SNAP_flag ignored
constexpr uint8_t kFlagsExpected = 0xC1;
constexpr uint8_t kLlcSnapFlag = 0x02;
constexpr uint8_t kLlcSnapHeader[6] = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00};
constexpr uint8_t kSectionSyntaxIndicator = 0x80; // in byte 1
constexpr uint32_t kChecksumSize = 4;             // CRC_32 or checksum, closing every section
constexpr uint8_t kStuffingByte = 0xFF;
constexpr uint16_t kEthertypeIpv4 = 0x0800;
constexpr uint16_t kEthertypeIpv6 = 0x86DD;
constexpr uint16_t kEthertypeBridged = 0x6558; // transparent Ethernet bridging: an Ethernet frame

// The station filter: the station's own address, IPv4 or IPv6 multicast, or
// broadcast (first three bytes only). `a` is MAC_address_1..6 in order.
inline bool addressAccepted(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t a4, uint8_t a5, uint8_t a6,
                            const uint8_t* filter)
{
    if (a1 == filter[0] && a2 == filter[1] && a3 == filter[2] && a4 == filter[3] && a5 == filter[4]
        && a6 == filter[5])
        return true;
    if (a1 == 0x01 && a2 == 0x00 && a3 == 0x5E)
        return true; // IPv4 multicast
    if (a1 == 0x33 && a2 == 0x33)
        return true; // IPv6 multicast (RFC 2464)
    return a1 == 0xFF && a2 == 0xFF && a3 == 0xFF; // broadcast
}

// Station address of a section: MAC_address_1..6 = bytes 11, 10, 9, 8, 4, 3.
inline bool accepted(const uint8_t* section, const uint8_t* filter)
{
    return addressAccepted(section[11], section[10], section[9], section[8], section[4], section[3], filter);
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

// Only this file and the GSE/ULE frames write frameBatch (the device must not
// write into it), only frame slot 0, its length and the count, and the GSE/ULE
// frames leave slot 0 zeroed as far as they wrote it, so the extents below stay
// upper bounds of what may be non-zero. The device reads the batch only
// when a frame is sent: what a walk over a zeroed batch would show it is the
// frame, then the bytes of longer frames sent before in the same walk, then
// zeros. So the batch is cleared in full once, and each frame afterwards clears
// only what earlier walks left beyond the bytes this walk wrote: less than
// clearing at every walk, which measured as 90% of a one-section buffer's time
// when the whole batch was filled.
uint32_t g_earlierWalksExtent = 0; // slot 0 bytes earlier walks may have left non-zero
uint32_t g_thisWalkExtent = 0;     // slot 0 bytes written by this walk's frames
bool g_batchCleared = false;

inline void clearFrameBatch(FrameBatch& batch)
{
    if (!g_batchCleared) {
        std::memset(&batch, 0, sizeof batch);
        g_batchCleared = true;
        g_earlierWalksExtent = 0;
    } else {
        g_earlierWalksExtent = std::max(g_earlierWalksExtent, g_thisWalkExtent);
    }
    g_thisWalkExtent = 0;
    batch.frameLengths[0] = 0;
    batch.frameCount = 0;
}

// An Ethernet II frame in `frame`: the section's station address, a zero
// source, the ethertype, then the n datagram bytes.
inline void buildFrame(uint8_t* frame, const uint8_t* p, const uint8_t* datagram, uint32_t n, uint8_t type1,
                       uint8_t type2)
{
    std::memcpy(frame + kEthernetHeaderSize, datagram, n);
    frame[0] = p[11];
    frame[1] = p[10];
    frame[2] = p[9];
    frame[3] = p[8];
    frame[4] = p[4];
    frame[5] = p[3];
    std::memset(frame + 6, 0, 6);
    frame[12] = type1;
    frame[13] = type2;
}

// Sends the `length` bytes of frame slot 0 as the batch's one frame; the
// device's result is not looked at.
inline void sendSlot0(DecoderState& s, uint32_t length)
{
    FrameBatch& batch = s.frameBatch;
    const uint32_t written = std::max(length, g_thisWalkExtent);
    if (g_earlierWalksExtent > written)
        std::memset(batch.frames[0] + written, 0, g_earlierWalksExtent - written);
    g_earlierWalksExtent = 0;
    g_thisWalkExtent = written;
    batch.frameLengths[0] = length;
    batch.frameCount = 1;
    sendFrames(s.adapterHandle, &batch, static_cast<DWORD>(sizeof batch));
    batch.frameCount = 0;
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

    // The datagram field ends where the CRC_32 (or checksum) begins; nothing
    // of the datagram may lie beyond it, or outside the frame slot.
    const uint8_t* datagram = p + datagramOffset;
    const uint32_t fieldEnd = sectionSize - kChecksumSize;
    const uint32_t field = datagramOffset < fieldEnd ? fieldEnd - datagramOffset : 0;
    const uint16_t ethertype = llcSnap ? static_cast<uint16_t>((p[18] << 8) | p[19]) : 0;
    if (llcSnap && ethertype != kEthertypeIpv4 && ethertype != kEthertypeIpv6) {
        // Not IP: no length of its own can be read, the datagram is the whole field.
        if (field == 0 || field > (ethertype == kEthertypeBridged ? kFrameSlotSize : kMaxDatagramSize)
            || (ethertype == kEthertypeBridged && field < kEthernetHeaderSize)) {
            countError(s.rxLengthErrors);
            return true;
        }
        if (ethertype == kEthertypeBridged) {
            // A bridged LAN arrives as it left: the inner frame itself, when it is
            // for this station (otherwise skipped, like a section for another one).
            if (addressAccepted(datagram[0], datagram[1], datagram[2], datagram[3], datagram[4], datagram[5],
                                s.macFilter)) {
                std::memcpy(batch.frames[0], datagram, field);
                sendSlot0(s, field);
            }
            return true;
        }
        buildFrame(batch.frames[0], p, datagram, field, static_cast<uint8_t>(ethertype >> 8),
                   static_cast<uint8_t>(ethertype));
        sendSlot0(s, field + static_cast<uint32_t>(kEthernetHeaderSize));
        return true;
    }

    // IP: the length from the datagram's own header, which must lie within the
    // field too. Such a section is dropped and the walk goes on with the next
    // one: the section itself is well delimited.
    bool fits = field > 0;
    uint32_t n = 0;
    bool ipv6 = false;
    if (fits) {
        ipv6 = (datagram[0] >> 4) == 6;
        fits = (ipv6 ? 6u : 4u) <= field;
    }
    if (fits) {
        n = ipv6 ? 40 + ((uint32_t(datagram[4]) << 8) | datagram[5])
                 : (uint32_t(datagram[2] & 0x0F) << 8) | datagram[3];
        fits = n <= kMaxDatagramSize && n <= field;
    }
    if (!fits) {
        countError(s.rxLengthErrors);
        return true;
    }
    if (llcSnap)
        buildFrame(batch.frames[0], p, datagram, n, p[18], p[19]);
    else if (ipv6)
        buildFrame(batch.frames[0], p, datagram, n, 0x86, 0xDD);
    else
        buildFrame(batch.frames[0], p, datagram, n, 0x08, 0x00);
    sendSlot0(s, n + static_cast<uint32_t>(kEthernetHeaderSize));
    return true;
}

} // namespace

void decodeMpeBuffer(int bufferHandle)
{
    const SectionBufferPool& pool = g_decoder.sectionBuffers;
    decodeMpeBytes(pool.bufferData(bufferHandle), pool.bufferLength(bufferHandle));
}

void decodeMpeBytes(const uint8_t* p, uint32_t length)
{
    DecoderState& s = g_decoder;
    clearFrameBatch(s.frameBatch);
    // 16 bytes are no more a section than 15 or 17 are.
    if (length <= kMinimumBuffer) {
        std::printf("IP/MPE packet length = %d too small.\n", static_cast<int>(length));
        countError(s.rxLengthErrors);
        return;
    }

    // The walk: every section is delimited by its own length, so one that is
    // no usable MPE section (another table sharing the PID, such as MPE-FEC,
    // or one too short) is passed over and those behind it still count.
    uint32_t remaining = length;
    while (remaining > 0 && p[0] != kStuffingByte) {
        // Bound: a section that runs past the buffer's data (its header
        // included). Nothing can follow it inside the buffer, so this also
        // ends the walk.
        const uint32_t sectionLength = remaining >= kSectionHeaderSize ? (uint32_t(p[1] & 0x0F) << 8) | p[2] : 0;
        const uint32_t sectionSize = kSectionHeaderSize + sectionLength;
        if (sectionSize > remaining) {
            countError(s.rxLengthErrors);
            return;
        }
        if (p[0] == kMpeTableId) {
            if (sectionLength < kMinimumSectionLength)
                countError(s.rxLengthErrors);
            else if (accepted(p, s.macFilter) && !decodeSection(s, p, sectionSize, remaining))
                return;
        }
        remaining -= sectionSize;
        p += sectionSize;
    }
}
