// The stream decoder's state and operations (section pool, demultiplexer,
// MPE decoder, slot operations): one process-wide DecoderState and free functions over it.
//
// Threads. processPacket and everything below it run on the media streaming
// thread, one packet at a time; that thread is the only writer of the slots,
// the pool entries, the frame batch and the counters while packets flow. The
// window thread may read every counter at any time (whole 64-bit values, they
// are atomics). The operations marked "[excluded]" below change state that
// processPacket uses; they are plain functions and take no lock: the caller
// must make sure no packet is being processed meanwhile (the input pin's
// receive lock is the intended means; the pin layer takes it
// around these calls).
#pragma once

#include "decoder/adapter_contract.h"
#include "platform/win32/types.h"

#include <atomic>
#include <cstdint>

constexpr int kPidCount = 8192;
constexpr int kTsPacketSize = 188;
constexpr uint8_t kTsSyncByte = 0x47;
constexpr uint8_t kMpeTableId = 0x3E;

// The per-packet handler: one 188-byte transport packet, no result.
using PacketCallback = void (*)(const uint8_t* packet);

// ---- Section buffer pool -------------------------------------------

struct SectionBufferEntry {
    uint8_t* data;     // null when the entry is free
    uint32_t capacity; // bytes
    uint32_t length;   // bytes in use
};

// 16 entries addressed by their index 0..15, the buffer handle. Handles outside
// 0..15 (such as -1) are treated as free entries.
struct SectionBufferPool {
    static constexpr int kEntryCount = 16;
    static constexpr uint32_t kSlotBufferCapacity = 0x20000; // what slots ask for, 131072

    SectionBufferEntry entries[kEntryCount];

    // Lowest-numbered free entry with `capacity` bytes, length 0; -1 when all are
    // in use or the allocation fails.
    int allocBuffer(uint32_t capacity);
    // Releases a used entry's bytes, zeroes data, capacity and length; a free
    // entry is left unchanged.
    void freeBuffer(int handle);
    // Length of a used entry becomes 0.
    void resetBuffer(int handle);
    // Length of a used entry, 0 for a free one.
    uint32_t bufferLength(int handle) const;
    // The entry's data pointer (null for a free one).
    uint8_t* bufferData(int handle) const;
    // Copies `count` bytes behind the data held and returns true; returns false
    // and changes nothing when the entry is free, `bytes` is null, `count` is 0,
    // or length + count >= capacity (so a buffer holds at most capacity - 1 bytes).
    bool appendBuffer(int handle, const uint8_t* bytes, uint32_t count);

private:
    static bool validHandle(int handle) { return static_cast<unsigned>(handle) < kEntryCount; }
};

// Inline: called for every section start.
inline void SectionBufferPool::resetBuffer(int handle)
{
    if (validHandle(handle) && entries[handle].data != nullptr)
        entries[handle].length = 0;
}

inline uint32_t SectionBufferPool::bufferLength(int handle) const
{
    return validHandle(handle) && entries[handle].data != nullptr ? entries[handle].length : 0;
}

inline uint8_t* SectionBufferPool::bufferData(int handle) const
{
    return validHandle(handle) ? entries[handle].data : nullptr;
}

// ---- Slots ------------------------------------------------------------

enum SlotState : int32_t {
    SlotAssembling = 0,      // a section is being assembled, no error since its start
    SlotIdle = 1,            // no section has started since the slot was assigned or released
    SlotPointerError = 2,    // the last section start had a pointer field beyond the payload
    SlotContinuityError = 3, // a continuation packet broke the continuity counter sequence
    SlotScrambled = 4,       // a packet with the transport error indicator or scrambling bits
    SlotOverflow = 5,        // an append to the section buffer was refused
};

// What a selected PID carries.
enum SlotKind : int32_t {
    SlotMpe = 0, // DSM-CC MPE sections
    SlotUle = 1, // ULE SNDUs
};

struct SectionSlot {
    int32_t bufferHandle;   // -1 when the slot is free
    int32_t pid;            // -1 when the slot is free; free exactly when negative
    int32_t state;          // SlotState
    int32_t lastContinuity; // 0..15, -1 when none seen since assignment
    int32_t kind;           // SlotKind
};

constexpr int kSlotCount = 16; // slot 0 is never assigned: at most 15 PIDs are decoded

// ---- The record, fields in the declared order ---------------------------

using Counter = std::atomic<uint64_t>;
static_assert(sizeof(Counter) == 8 && Counter::is_always_lock_free, "counters are plain 64-bit words");

struct DecoderState {
    std::atomic<PacketCallback> packetCallback; // null: no packet is decoded
    SectionBufferPool sectionBuffers;
    Counter* pidMpeSections; // 8192, by PID
    FrameBatch frameBatch;
    Counter* pidPackets; // 8192, by PID
    uint8_t pidSlot[kPidCount];   // slot number of the PID, 0 when not selected
    Counter* pidSelectedPackets;  // 8192, by PID
    HANDLE adapterHandle;         // null when opening failed
    SectionSlot sectionSlots[kSlotCount];
    uint8_t macFilter[6]; // station address, transmission order (MAC_address_1 first)
    Counter rxErrors;     // sum of the specific counters below since the last reset
    Counter rxContinuityErrors;
    Counter rxMemErrors;
    Counter rxScrambledErrors;
    Counter rxPointerErrors;
    Counter rxLengthErrors;
    Counter rxCrcErrors;
    Counter rxDropped;
    // Encapsulations beside MPE; each is counted in rxErrors too.
    Counter rxBbFrameErrors; // baseband frames dropped: header CRC-8, data field length, lost or damaged carrier packets
    Counter rxGseErrors;     // GSE PDUs dropped: CRC-32, abandoned reassembly, malformed header, unknown mandatory extension
    Counter rxUleErrors;     // ULE SNDUs dropped: CRC-32, length, continuity loss, unknown mandatory extension
};

// The one process-wide record; zero at program load (static storage).
extern DecoderState g_decoder;
inline DecoderState& decoderState() { return g_decoder; }

// Increments a counter by one. The streaming thread is the only writer while
// packets flow, so a relaxed load and store suffices (no locked instruction);
// readers always see whole values.
inline void countEvent(Counter& counter)
{
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Increments one of the specific error counters together with rxErrors.
inline void countError(Counter& counter)
{
    countEvent(counter);
    countEvent(g_decoder.rxErrors);
}

// Reads a counter (window thread).
inline uint64_t counterValue(const Counter& counter) { return counter.load(std::memory_order_relaxed); }

// ---- Lifecycle and counters -------------------------------------------------------

// Allocates the three per-PID tables (pidMpeSections, pidPackets,
// pidSelectedPackets), 8192 zero counters each; tables already allocated are
// zeroed and kept. False when an allocation fails (the tables are then all
// freed). The main window calls it at bring-up. [excluded]
bool allocatePidTables();
// Frees the three tables and sets their pointers to null. [excluded]
void freePidTables();

// Sets the error counters to 0; the per-PID tables keep their values.
void resetErrorCounters();

// ---- Demultiplexer and MPE decoder ---------------------------

// The packet handler: one aligned 188-byte packet (the sync byte is not checked).
// Does nothing while the per-PID tables are not allocated.
void processPacket(const uint8_t* packet);
// Used by processPacket only; exposed for tests.
void startSection(int slot, int continuity, const uint8_t* data, int count);
void continueSection(int slot, int continuity, const uint8_t* data, int count);
// Walks the MPE sections of a section buffer and sends one frame per accepted
// section through sendFrames(adapterHandle, &frameBatch, 24388).
void decodeMpeBuffer(int bufferHandle);
// The same walk over `length` bytes held elsewhere: a whole section that lies in
// one packet's payload is decoded where it lies instead of being copied first.
void decodeMpeBytes(const uint8_t* data, uint32_t length);

// ---- Slot operations, decoder side --------------------------------------

// pidSlot all 0; slots 1..15 free (bufferHandle -1, pid -1, lastContinuity -1,
// state SlotIdle). A slot that held a buffer has it freed first, so clearSlots
// can also be used to start over. [excluded]
void clearSlots();
// Lowest free slot among 1..15 for `pid`, with a 131072-byte buffer, state
// SlotIdle, carrying `kind`; nothing changes when none is free or `pid` is outside
// 0..8191. By design, it does not test whether the PID already has a slot (the
// caller does). [excluded]
void assignSlot(int pid, SlotKind kind = SlotMpe);
// Frees the PID's slot and buffer (state SlotIdle, all -1); nothing when the
// PID has none or is outside 0..8191. [excluded]
void releaseSlot(int pid);
// Zeroes pidPackets, pidMpeSections and pidSelectedPackets for all PIDs (the
// window's own copy and list are the window's part). [excluded]
void clearPidCounters();
