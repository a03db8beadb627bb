// Slot operations (decoder side).
#include "decoder/bbframe.h"
#include "decoder/decoder.h"

namespace {

void freeSlot(SectionSlot& slot)
{
    slot.bufferHandle = -1;
    slot.pid = -1;
    slot.lastContinuity = -1;
    slot.state = SlotIdle;
    slot.kind = SlotMpe;
}

inline bool validPid(int pid) { return pid >= 0 && pid < kPidCount; }

} // namespace

void clearSlots()
{
    DecoderState& s = g_decoder;
    for (uint8_t& entry : s.pidSlot)
        entry = 0;
    for (int number = 1; number < kSlotCount; ++number) {
        SectionSlot& slot = s.sectionSlots[number];
        // Only a slot in use owns its buffer (at program load every slot reads
        // pid 0, handle 0, while the pool is still empty: freeing is then a no-op).
        if (slot.pid >= 0)
            s.sectionBuffers.freeBuffer(slot.bufferHandle);
        freeSlot(slot);
    }
    resetBasebandFrames();
}

void assignSlot(int pid, SlotKind kind)
{
    if (!validPid(pid))
        return;
    DecoderState& s = g_decoder;
    for (int number = 1; number < kSlotCount; ++number) {
        SectionSlot& slot = s.sectionSlots[number];
        if (slot.pid >= 0)
            continue;
        s.pidSlot[pid] = static_cast<uint8_t>(number);
        slot.bufferHandle = s.sectionBuffers.allocBuffer(SectionBufferPool::kSlotBufferCapacity);
        slot.lastContinuity = -1;
        slot.pid = pid;
        slot.state = SlotIdle;
        slot.kind = kind;
        return;
    }
}

void releaseSlot(int pid)
{
    if (!validPid(pid))
        return;
    DecoderState& s = g_decoder;
    const int number = s.pidSlot[pid];
    if (number == 0)
        return;
    s.pidSlot[pid] = 0;
    SectionSlot& slot = s.sectionSlots[number];
    s.sectionBuffers.freeBuffer(slot.bufferHandle);
    freeSlot(slot);
}
