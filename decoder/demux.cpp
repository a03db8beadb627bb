// The transport packet demultiplexer and section assembly
#include "decoder/bbframe.h"
#include "decoder/decoder.h"
#include "decoder/ule.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStuffingByte = 0xFF;
constexpr uint32_t kSectionHeaderSize = 3; // table_id and section_length

// Size in bytes of the section whose first three bytes are `header`. Every
// table is delimited by its own length, so a section that is no MPE section
// (another table sharing the PID, such as MPE-FEC) is passed over by it and
// the sections behind it are still found.
inline uint32_t sectionSize(const uint8_t* header)
{
    return kSectionHeaderSize + ((uint32_t(header[1] & 0x0F) << 8) | header[2]);
}

// The buffer holds one whole section: an MPE section goes to the decoder
// (which counts one too short to be used); other tables are dropped.
inline void sectionComplete(SectionBufferEntry& entry, int handle)
{
    if (entry.data[0] == kMpeTableId)
        decodeMpeBuffer(handle);
    entry.length = 0;
}

// A whole section inside one piece of payload, its buffer empty: decoded where
// it lies, as if it had been copied into the buffer and completed there.
inline void sectionInPlace(const uint8_t* section, uint32_t size)
{
    if (section[0] == kMpeTableId)
        decodeMpeBytes(section, size);
}

#define KEST_UNLIKELY(condition) __builtin_expect(!!(condition), 0)

// A continuity counter that does not follow the last one while a section is
// being assembled: the packets between are lost. The counting is out of line,
// so that the path of every packet stays short.
[[gnu::noinline, gnu::cold]] void continuityLost(SectionSlot& slot)
{
    slot.state = SlotContinuityError;
    countError(g_decoder.rxContinuityErrors);
}

inline void checkContinuity(SectionSlot& slot, int continuity)
{
    if (KEST_UNLIKELY(slot.state == SlotAssembling && continuity != ((slot.lastContinuity + 1) & 0x0F)))
        continuityLost(slot);
}

[[gnu::noinline, gnu::cold]] void bufferRefused(SectionSlot& slot)
{
    slot.state = SlotOverflow;
    countError(g_decoder.rxMemErrors);
}

// Appends a piece of payload to the slot's section buffer and hands each MPE
// section to the decoder as soon as its last byte is in: a section's length is
// in its header, so nothing waits for the next section start on the PID (which
// may never come). The piece is cut at section ends rather than the buffer
// moved, so every byte is still copied once. Stuffing after a section ends the
// packet's payload. False when the buffer refuses an append (no buffer, no
// bytes, or full), under the pool's own rule.
[[gnu::noinline]] bool appendCutAtSectionEnds(SectionSlot& slot, const uint8_t* data, uint32_t count)
{
    SectionBufferPool& pool = g_decoder.sectionBuffers;
    const int handle = slot.bufferHandle;
    if (handle < 0 || handle >= SectionBufferPool::kEntryCount || data == nullptr || count == 0
        || pool.entries[handle].data == nullptr)
        return pool.appendBuffer(handle, data, count); // refused as the pool refuses it
    SectionBufferEntry& entry = pool.entries[handle];
    while (count > 0) {
        const uint32_t held = entry.length;
        if (held == 0 && data[0] == kStuffingByte)
            return true;
        if (held == 0 && count >= kSectionHeaderSize) {
            const uint32_t size = sectionSize(data);
            if (size <= count && size < entry.capacity) {
                sectionInPlace(data, size);
                data += size;
                count -= size;
                continue;
            }
        }
        // The header, once its three bytes are in the buffer or this piece.
        const uint8_t* header = entry.data;
        uint8_t joined[kSectionHeaderSize];
        if (held < kSectionHeaderSize) {
            header = nullptr;
            if (held + count >= kSectionHeaderSize) {
                for (uint32_t i = 0; i < kSectionHeaderSize; ++i)
                    joined[i] = i < held ? entry.data[i] : data[i - held];
                header = joined;
            }
        }
        const uint32_t size = header != nullptr ? sectionSize(header) : 0;
        const uint32_t take = size > held ? std::min(count, size - held) : count;
        if (uint64_t(held) + take >= entry.capacity)
            return false;
        std::memcpy(entry.data + held, data, take);
        entry.length = held + take;
        data += take;
        count -= take;
        if (size != 0 && entry.length == size)
            sectionComplete(entry, handle);
    }
    return true;
}

// The same, with the common pieces done here in one copy: a piece that lies
// inside a section or ends it, its header in the buffer or at the start of
// the piece.
[[gnu::always_inline]] inline bool appendSectionData(SectionSlot& slot, const uint8_t* data, uint32_t count)
{
    const int handle = slot.bufferHandle;
    if (static_cast<uint32_t>(handle) < SectionBufferPool::kEntryCount && count > 0 && data != nullptr) {
        SectionBufferEntry& entry = g_decoder.sectionBuffers.entries[handle];
        const uint32_t held = entry.length; // more than 0 only for a used entry
        const uint8_t* header = nullptr;
        if (held >= kSectionHeaderSize)
            header = entry.data;
        else if (held == 0 && count >= kSectionHeaderSize && data[0] != kStuffingByte && entry.data != nullptr)
            header = data;
        if (header != nullptr) {
            const uint32_t size = sectionSize(header);
            const uint64_t after = uint64_t(held) + count;
            if (held == 0 && count == size && size < entry.capacity) {
                sectionInPlace(data, size);
                return true;
            }
            if (after <= size && after < entry.capacity) {
                std::memcpy(entry.data + held, data, count);
                entry.length = static_cast<uint32_t>(after);
                if (after == size)
                    sectionComplete(entry, handle);
                return true;
            }
        }
    }
    return appendCutAtSectionEnds(slot, data, count);
}


// Both inlined into processPacket, where nearly every packet goes through one
// of them; the exported functions below are the same for tests.
[[gnu::always_inline]] inline void startSectionHere(int slotNumber, int continuity, const uint8_t* data, int count)
{
    DecoderState& s = g_decoder;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    if (continuity == slot.lastContinuity)
        return; // duplicate
    slot.state = SlotAssembling;
    slot.lastContinuity = continuity;
    s.sectionBuffers.resetBuffer(slot.bufferHandle);
    if (KEST_UNLIKELY(count < 0 || !appendSectionData(slot, data, static_cast<uint32_t>(count))))
        bufferRefused(slot);
}

[[gnu::always_inline]] inline void continueSectionHere(int slotNumber, int continuity, const uint8_t* data, int count)
{
    DecoderState& s = g_decoder;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    if (continuity == slot.lastContinuity)
        return; // duplicate
    checkContinuity(slot, continuity);
    slot.lastContinuity = continuity;
    if (slot.state != SlotAssembling)
        return; // dropped
    if (KEST_UNLIKELY(count < 0 || !appendSectionData(slot, data, static_cast<uint32_t>(count))))
        bufferRefused(slot);
}

} // namespace

void startSection(int slotNumber, int continuity, const uint8_t* data, int count)
{
    startSectionHere(slotNumber, continuity, data, count);
}

void continueSection(int slotNumber, int continuity, const uint8_t* data, int count)
{
    continueSectionHere(slotNumber, continuity, data, count);
}

void processPacket(const uint8_t* packet)
{
    DecoderState& s = g_decoder;
    if (s.pidPackets == nullptr || s.pidMpeSections == nullptr || s.pidSelectedPackets == nullptr)
        return; // tables not allocated: nothing can be counted

    // Header fields; payload behind the 4-byte header.
    const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
    const int continuity = packet[3] & 0x0F;
    const bool unitStart = (packet[1] & 0x40) != 0;
    const bool transportError = (packet[1] & 0x80) != 0;
    const bool adaptationPresent = (packet[3] & 0x20) != 0;
    const bool payloadPresent = (packet[3] & 0x10) != 0;
    const int scrambling = (packet[3] >> 6) & 0x03;
    const uint8_t* payload = packet + 4;
    int size = 184;

    countEvent(s.pidPackets[pid]);
    // The raw byte 5, whatever the pointer or adaptation field.
    if (payloadPresent && unitStart && !transportError && scrambling == 0 && packet[5] == kMpeTableId)
        countEvent(s.pidMpeSections[pid]);
    if (isBasebandFramePid(pid) && processBasebandFramePacket(pid, packet))
        return;
    const int slotNumber = s.pidSlot[pid];
    if (slotNumber == 0)
        return;
    countEvent(s.pidSelectedPackets[pid]);
    // n is 1..256; the pointer is only moved when it stays inside the packet.
    if (adaptationPresent) {
        const int n = payload[0] + 1;
        size = 184 - n;
        if (size < 1)
            return;
        payload += n;
    }
    if (!payloadPresent)
        return;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    if (scrambling != 0 || transportError) {
        slot.state = SlotScrambled;
        countError(s.rxScrambledErrors);
        return;
    }
    if (slot.kind == SlotUle) {
        decodeUlePayload(slotNumber, continuity, unitStart, payload, size);
        return;
    }
    if (unitStart) {
        // A packet may be sent twice with the same counter (ISO/IEC 13818-1);
        // the copy must change nothing, so it is recognised before its end
        // part, the decoding of the buffer or the new start could act on it.
        if (continuity == slot.lastContinuity)
            return;
        const int pointer = payload[0];
        payload += 1;
        size -= 1;
        if (pointer > size) {
            slot.state = SlotPointerError;
            countError(s.rxPointerErrors);
            return;
        }
        if (pointer == 0) {
            // No end of a section to continue, but packets may still be lost
            // before this one (with one section per packet, whole datagrams).
            checkContinuity(slot, continuity);
        } else {
            continueSectionHere(slotNumber, continuity, payload, pointer);
            payload += pointer;
            size -= pointer;
            slot.lastContinuity -= 1; // so that the startSection below is no duplicate
        }
        // Complete sections have gone on already; what is left is a section
        // cut short (the decoder counts it).
        if (slot.state == SlotAssembling && s.sectionBuffers.bufferLength(slot.bufferHandle) > 0)
            decodeMpeBuffer(slot.bufferHandle);
        startSectionHere(slotNumber, continuity, payload, size);
        return;
    }
    continueSectionHere(slotNumber, continuity, payload, size);
}
