// libFuzzer target: arbitrary bytes through PacketAligner -> processPacket ->
// decodeMpeBuffer -> a sink adapter device, with several PIDs selected.
//
// Input layout:
//   byte 0      flags: bit 0 station filter 00:11:22:33:44:55 (else zero),
//               bit 1 no adapter open, bit 2 resync halfway through,
//               bit 3 release and reassign the first PID halfway through
//   byte 1      n: number of extra PIDs, n & 7
//   2n bytes    the extra PIDs, big-endian, low 13 bits
//   4 bytes     sample size selectors, used in turn: b < 128 gives 1 + b bytes,
//               otherwise 1 + (b - 128) * 64 bytes
//   the rest    the transport stream
// PIDs 0x100 and 1001 (0x3E9) are always selected (the corpus uses them).
// Besides the sanitizers, the target checks invariants and aborts on a breach.
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class SinkFile : public platform::DeviceFile {
public:
    bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error) override
    {
        *returned = 0;
        if (code == IOCTL_SEND_FRAMES) {
            check(in != nullptr && inSize == sizeof(FrameBatch), "batch size");
            const auto* batch = static_cast<const FrameBatch*>(in);
            check(batch->frameCount == 1, "one frame per request");
            check(batch->frameLengths[0] >= kEthernetHeaderSize && batch->frameLengths[0] <= kFrameSlotSize,
                  "frame length within the slot");
            for (size_t i = 1; i < kFrameSlotCount; ++i)
                check(batch->frameLengths[i] == 0, "other lengths zero");
            // Touch the frame so that the sanitizers see it read.
            uint32_t sum = 0;
            for (uint32_t i = 0; i < batch->frameLengths[0]; ++i)
                sum += batch->frames[0][i];
            bytes_ += sum != 0xFFFFFFFFu ? batch->frameLengths[0] : 0;
            return true;
        }
        if (code == IOCTL_READ_BYTE_COUNT && out != nullptr && outSize >= 4) {
            std::memcpy(out, &bytes_, 4);
            *returned = 4;
            return true;
        }
        *error = ERROR_NOT_SUPPORTED;
        return false;
    }

private:
    uint32_t bytes_ = 0;
};

class SinkDriver : public platform::DeviceDriver {
public:
    std::unique_ptr<platform::DeviceFile> open(DWORD, DWORD*) override { return std::make_unique<SinkFile>(); }
};

long sampleSize(uint8_t selector)
{
    return selector < 128 ? 1 + selector : 1 + long(selector - 128) * 64;
}

void checkState()
{
    const DecoderState& s = g_decoder;
    const uint64_t sum = counterValue(s.rxContinuityErrors) + counterValue(s.rxMemErrors)
        + counterValue(s.rxScrambledErrors) + counterValue(s.rxPointerErrors) + counterValue(s.rxLengthErrors)
        + counterValue(s.rxCrcErrors) + counterValue(s.rxDropped);
    check(counterValue(s.rxErrors) == sum, "rxErrors is the sum of the seven");
    for (const SectionBufferEntry& e : s.sectionBuffers.entries)
        check(e.data == nullptr ? (e.length == 0 && e.capacity == 0) : e.length < e.capacity, "pool entry");
    for (int n = 1; n < kSlotCount; ++n) {
        const SectionSlot& slot = s.sectionSlots[n];
        check(slot.state >= SlotAssembling && slot.state <= SlotOverflow, "slot state");
        check(slot.lastContinuity >= -1 && slot.lastContinuity <= 15, "lastContinuity");
        if (slot.pid >= 0)
            check(s.pidSlot[slot.pid] == n, "slot map");
    }
    check(s.frameBatch.frameCount == 0, "frame count back to 0");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The short-buffer message would flood the output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::fprintf(stderr, "cannot silence stdout\n");
    platform::registerDevice(kAdapterDeviceName, std::make_shared<SinkDriver>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t flags = data[0];
    const size_t extra = data[1] & 7;
    size_t pos = 2;
    std::vector<int> pids{0x100, 1001};
    for (size_t i = 0; i < extra && pos + 1 < size; ++i, pos += 2)
        pids.push_back(((data[pos] << 8) | data[pos + 1]) & 0x1FFF);
    uint8_t selectors[4] = {200, 200, 200, 200};
    for (int i = 0; i < 4 && pos < size; ++i)
        selectors[i] = data[pos++];
    const uint8_t* stream = data + pos;
    const long length = static_cast<long>(size - pos);

    // A fresh bring-up.
    DecoderState& s = g_decoder;
    clearSlots();
    if (!allocatePidTables())
        return 0;
    resetErrorCounters();
    static const uint8_t own[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    if (flags & 1)
        std::memcpy(s.macFilter, own, 6);
    else
        std::memset(s.macFilter, 0, 6);
    s.adapterHandle = (flags & 2) ? nullptr : openAdapter();
    for (int pid : pids)
        if (s.pidSlot[pid] == 0)
            assignSlot(pid);

    PacketAligner aligner(processPacket);
    long offset = 0;
    int turn = 0;
    bool halfway = false;
    while (offset < length) {
        const long n = std::min(sampleSize(selectors[turn++ & 3]), length - offset);
        // An exact-size copy: a read past the sample is a heap overflow.
        std::unique_ptr<uint8_t[]> sample(new uint8_t[static_cast<size_t>(n)]);
        std::memcpy(sample.get(), stream + offset, static_cast<size_t>(n));
        aligner.alignPackets(sample.get(), n);
        offset += n;
        check(aligner.carryLength <= 187, "carry within a packet");
        checkState();
        if (!halfway && offset * 2 >= length) {
            halfway = true;
            if (flags & 4)
                aligner.resync();
            if (flags & 8) {
                releaseSlot(pids[0]);
                assignSlot(pids[0]);
            }
        }
    }
    // Per-PID counters agree with each other.
    for (int pid : pids)
        check(counterValue(s.pidSelectedPackets[pid]) <= counterValue(s.pidPackets[pid]), "selected <= all");

    closeAdapter(s.adapterHandle);
    s.adapterHandle = nullptr;
    clearSlots();
    return 0;
}
