// The transport packet demultiplexer and section assembly
#include "decoder/decoder.h"

void startSection(int slotNumber, int continuity, const uint8_t* data, int count)
{
    DecoderState& s = g_decoder;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    if (continuity == slot.lastContinuity)
        return; // duplicate
    slot.state = SlotAssembling;
    slot.lastContinuity = continuity;
    s.sectionBuffers.resetBuffer(slot.bufferHandle);
    if (count < 0 || !s.sectionBuffers.appendBuffer(slot.bufferHandle, data, static_cast<uint32_t>(count))) {
        slot.state = SlotOverflow;
        countError(s.rxMemErrors);
    }
}

void continueSection(int slotNumber, int continuity, const uint8_t* data, int count)
{
    DecoderState& s = g_decoder;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    if (continuity == slot.lastContinuity)
        return; // duplicate
    if (slot.state == SlotAssembling && continuity != (slot.lastContinuity + 1) % 16) {
        slot.state = SlotContinuityError;
        countError(s.rxContinuityErrors);
    }
    slot.lastContinuity = continuity;
    if (slot.state != SlotAssembling)
        return; // dropped
    if (count < 0 || !s.sectionBuffers.appendBuffer(slot.bufferHandle, data, static_cast<uint32_t>(count))) {
        slot.state = SlotOverflow;
        countError(s.rxMemErrors);
    }
}

void processPacket(const uint8_t* packet)
{
    DecoderState& s = g_decoder;
    if (s.pidPackets == nullptr || s.pidMpeSections == nullptr || s.pidSelectedPackets == nullptr)
        return; // tables not allocated: nothing can be counted

    // 1. Header fields; payload behind the 4-byte header.
    const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
    const int continuity = packet[3] & 0x0F;
    const bool unitStart = (packet[1] & 0x40) != 0;
    const bool transportError = (packet[1] & 0x80) != 0;
    const bool adaptationPresent = (packet[3] & 0x20) != 0;
    const bool payloadPresent = (packet[3] & 0x10) != 0;
    const int scrambling = (packet[3] >> 6) & 0x03;
    const uint8_t* payload = packet + 4;
    int size = 184;

    // 2.
    countEvent(s.pidPackets[pid]);
    // 3. The raw byte 5, whatever the pointer or adaptation field.
    if (payloadPresent && unitStart && !transportError && scrambling == 0 && packet[5] == kMpeTableId)
        countEvent(s.pidMpeSections[pid]);
    // 4.
    const int slotNumber = s.pidSlot[pid];
    if (slotNumber == 0)
        return;
    // 5.
    countEvent(s.pidSelectedPackets[pid]);
    // 6. n is 1..256; the pointer is only moved when it stays inside the packet.
    if (adaptationPresent) {
        const int n = payload[0] + 1;
        size = 184 - n;
        if (size < 1)
            return;
        payload += n;
    }
    // 7.
    if (!payloadPresent)
        return;
    SectionSlot& slot = s.sectionSlots[slotNumber];
    // 8.
    if (scrambling != 0 || transportError) {
        slot.state = SlotScrambled;
        countError(s.rxScrambledErrors);
        return;
    }
    // 9.
    if (unitStart) {
        const int pointer = payload[0];
        payload += 1;
        size -= 1;
        if (pointer > size) {
            slot.state = SlotPointerError;
            countError(s.rxPointerErrors);
            return;
        }
        if (pointer != 0) {
            continueSection(slotNumber, continuity, payload, pointer);
            payload += pointer;
            size -= pointer;
            slot.lastContinuity -= 1; // so that the startSection below is no duplicate
        }
        if (slot.state == SlotAssembling && s.sectionBuffers.bufferLength(slot.bufferHandle) > 0)
            decodeMpeBuffer(slot.bufferHandle);
        startSection(slotNumber, continuity, payload, size);
        return;
    }
    // 10.
    continueSection(slotNumber, continuity, payload, size);
}
