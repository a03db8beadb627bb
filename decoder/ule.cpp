// ULE SNDUs out of transport packets.
#include "decoder/ule.h"

#include "decoder/crc32.h"
#include "decoder/decoder.h"
#include "decoder/pdu_frame.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kBaseHeader = 4; // D and length, type
constexpr uint32_t kCrcSize = 4;
constexpr uint32_t kAddressSize = 6;

inline uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void countUle() { countError(g_decoder.rxUleErrors); }

// Whole size of the SNDU whose first two bytes are `p`; 0 when its length
// cannot hold what a D bit and CRC-32 need.
inline uint32_t snduSize(const uint8_t* p)
{
    const bool noAddress = (p[0] & 0x80) != 0;
    const uint32_t length = read16(p) & 0x7FFF;
    if (length < kCrcSize + (noAddress ? 0 : kAddressSize))
        return 0;
    return kBaseHeader + length;
}

void decodeSndu(int pid, const uint8_t* p, uint32_t size)
{
    if (crc32Mpeg(p, size) != 0) {
        countUle();
        return;
    }
    const bool noAddress = (p[0] & 0x80) != 0;
    uint16_t type = read16(p + 2);
    const uint8_t* destination = noAddress ? nullptr : p + kBaseHeader;
    const uint8_t* pdu = p + kBaseHeader + (noAddress ? 0 : kAddressSize);
    uint32_t length = size - kCrcSize - static_cast<uint32_t>(pdu - p);
    switch (skipExtensionHeaders(type, pdu, length)) {
    case NextHeader::Discard:
        return;
    case NextHeader::Bad:
        countUle();
        return;
    case NextHeader::Pdu:
        break;
    }
    switch (sendPdu(type, destination, pdu, length)) {
    case PduResult::Sent:
        countEvent(g_decoder.pidMpeSections[pid]);
        break;
    case PduResult::Malformed:
        countUle();
        break;
    default:
        break;
    }
}

// Loses the SNDU in progress: the decoder waits for the next payload pointer.
void lose(SectionSlot& slot, bool count)
{
    if (count)
        countUle();
    slot.state = SlotIdle;
    g_decoder.sectionBuffers.resetBuffer(slot.bufferHandle);
}

// Continues the SNDU held in the buffer with up to `count` bytes; returns the
// bytes taken, or -1 when the SNDU turned out bad (already counted).
int continueSndu(SectionSlot& slot, const uint8_t* data, uint32_t count)
{
    SectionBufferEntry& entry = g_decoder.sectionBuffers.entries[slot.bufferHandle];
    uint32_t taken = 0;
    if (entry.length < 2) {
        const uint32_t part = std::min<uint32_t>(2 - entry.length, count);
        std::memcpy(entry.data + entry.length, data, part);
        entry.length += part;
        taken = part;
        if (entry.length < 2)
            return static_cast<int>(taken);
    }
    const uint32_t size = snduSize(entry.data);
    if (size == 0 || size >= entry.capacity) {
        lose(slot, true);
        return -1;
    }
    const uint32_t part = std::min(size - entry.length, count - taken);
    std::memcpy(entry.data + entry.length, data + taken, part);
    entry.length += part;
    taken += part;
    if (entry.length == size) {
        decodeSndu(slot.pid, entry.data, size);
        entry.length = 0;
    }
    return static_cast<int>(taken);
}

// SNDUs from the start of one, to the end of the payload.
void walk(SectionSlot& slot, const uint8_t* p, uint32_t n)
{
    SectionBufferEntry& entry = g_decoder.sectionBuffers.entries[slot.bufferHandle];
    while (n > 0) {
        if (n == 1 && p[0] == 0xFF)
            return; // one byte of padding
        if (n >= 2 && p[0] == 0xFF && p[1] == 0xFF)
            return; // end indicator: padding to the end of the packet
        if (n >= 2) {
            const uint32_t size = snduSize(p);
            if (size == 0) {
                lose(slot, true);
                return;
            }
            if (size <= n) {
                decodeSndu(slot.pid, p, size); // in place, no copy
                p += size;
                n -= size;
                continue;
            }
        }
        // Spans into the next packet.
        entry.length = 0;
        const int taken = continueSndu(slot, p, n);
        (void)taken;
        return;
    }
}

} // namespace

void decodeUlePayload(int slotNumber, int continuity, bool unitStart, const uint8_t* payload, int size)
{
    DecoderState& s = g_decoder;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    const int handle = slot.bufferHandle;
    if (handle < 0 || handle >= SectionBufferPool::kEntryCount || s.sectionBuffers.entries[handle].data == nullptr
        || size < 1)
        return;
    if (continuity == slot.lastContinuity)
        return; // a duplicate
    SectionBufferEntry& entry = s.sectionBuffers.entries[handle];
    if (slot.state == SlotAssembling && continuity != ((slot.lastContinuity + 1) & 0x0F))
        lose(slot, entry.length > 0);
    slot.lastContinuity = continuity;
    const uint8_t* p = payload;
    uint32_t n = static_cast<uint32_t>(size);
    if (unitStart) {
        const uint32_t pointer = p[0];
        ++p;
        --n;
        if (pointer > n) {
            lose(slot, true);
            return;
        }
        if (slot.state == SlotAssembling && entry.length > 0) {
            // The bytes before the pointed start end the SNDU in progress, exactly.
            const int taken = continueSndu(slot, p, pointer);
            if (taken >= 0 && (static_cast<uint32_t>(taken) != pointer || entry.length != 0))
                lose(slot, true);
        }
        slot.state = SlotAssembling;
        entry.length = 0;
        walk(slot, p + pointer, n - pointer);
        return;
    }
    if (slot.state != SlotAssembling)
        return;
    if (entry.length == 0)
        return; // after an end indicator nothing starts before the next pointer
    const int taken = continueSndu(slot, p, n);
    if (taken < 0)
        return;
    if (static_cast<uint32_t>(taken) < n)
        walk(slot, p + taken, n - static_cast<uint32_t>(taken));
}
