// libFuzzer target: arbitrary bytes through PacketAligner -> processPacket ->
// decodeMpeBuffer -> a sink adapter device, with several PIDs selected.
//
// Input layout:
//   byte 0      flags: bit 0 station filter 00:11:22:33:44:55 (else zero),
//               bit 1 no adapter open, bit 2 resync halfway through,
//               bit 3 release and reassign the first PID halfway through,
//               bit 4 the rest is sections, not a transport stream (below)
//   byte 1      n: number of extra PIDs, n & 15 (so up to 17 PIDs: all 15
//               slots taken, and PIDs refused a slot)
//   2n bytes    the extra PIDs, big-endian, low 13 bits
//   4 bytes     sample size selectors, used in turn: b < 128 gives 1 + b bytes,
//               otherwise 1 + (b - 128) * 64 bytes
//   the rest    the transport stream, or with flag bit 4 section records:
//                 1 byte   bits 0-3 PID (index into the selected PIDs, modulo),
//                          bit 4 keep the section as it is (no fix-up),
//                          bit 5 start the section in a packet of its own
//                 2 bytes  L, big-endian, low 12 bits (cut to the input left)
//                 L bytes  the section
//               The harness fixes up each section (unless bit 4): its
//               section_length becomes L - 3 and its last four bytes its
//               CRC_32, so that random sections pass the CRC check and reach
//               the frame builder. It then packetises the sections per PID as
//               a multiplexer does (pointer fields, continuity counters) and
//               ends each PID with a section start that hands the last
//               section over.
// PIDs 0x100 and 1001 (0x3E9) are always selected (the corpus uses them).
// Inputs up to 1 MiB (see LLVMFuzzerInitialize): long runs fill section
// buffers to their end.
// Besides the sanitizers, the target checks invariants and aborts on a breach.
#include "decoder/adapter.h"
#include "decoder/crc32.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "platform/win32.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
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

// Packetises the sections of one PID back to back.
class PidPacketiser {
public:
    explicit PidPacketiser(int pid) : pid_(pid) {}

    void section(const uint8_t* data, size_t n, bool ownPacket, std::vector<uint8_t>& out)
    {
        if (fill_ > 0 && (ownPacket || (!pointerSet_ && fill_ > kPayload - 2)))
            finish(out);
        if (fill_ == 0) {
            begin(true);
            payload()[0] = 0;
            fill_ = 1;
            pointerSet_ = true;
        } else if (!pointerSet_) {
            // The first section start in this packet: the pointer field says where.
            std::memmove(payload() + 1, payload(), fill_);
            payload()[0] = static_cast<uint8_t>(fill_);
            packet_[1] |= 0x40;
            ++fill_;
            pointerSet_ = true;
        }
        while (n > 0) {
            if (fill_ == 0)
                begin(false);
            const size_t take = std::min(n, kPayload - fill_);
            std::memcpy(payload() + fill_, data, take);
            fill_ += take;
            data += take;
            n -= take;
            if (fill_ == kPayload)
                finish(out);
        }
    }

    // Stuffs the open packet, then a section start of stuffing hands the last section over.
    void close(std::vector<uint8_t>& out)
    {
        finish(out);
        begin(true);
        std::memset(payload(), 0xFF, kPayload);
        payload()[0] = 0;
        fill_ = kPayload;
        finish(out);
    }

private:
    static constexpr size_t kPayload = 184;

    uint8_t* payload() { return packet_ + 4; }
    void begin(bool unitStart)
    {
        packet_[0] = kTsSyncByte;
        packet_[1] = static_cast<uint8_t>((unitStart ? 0x40 : 0) | (pid_ >> 8));
        packet_[2] = static_cast<uint8_t>(pid_);
        packet_[3] = static_cast<uint8_t>(0x10 | continuity_);
        continuity_ = (continuity_ + 1) & 0x0F;
        fill_ = 0;
        pointerSet_ = false;
    }
    void finish(std::vector<uint8_t>& out)
    {
        if (fill_ == 0)
            return;
        std::memset(payload() + fill_, 0xFF, kPayload - fill_);
        out.insert(out.end(), packet_, packet_ + sizeof packet_);
        fill_ = 0;
        pointerSet_ = false;
    }

    int pid_;
    uint8_t continuity_ = 0;
    uint8_t packet_[kTsPacketSize] = {};
    size_t fill_ = 0;
    bool pointerSet_ = false;
};

// The transport stream of section records (see the input layout).
std::vector<uint8_t> streamOfSections(const uint8_t* data, size_t size, const std::vector<int>& pids)
{
    std::vector<PidPacketiser> writers(pids.begin(), pids.end());
    std::vector<uint8_t> out;
    std::vector<uint8_t> section;
    size_t pos = 0;
    while (pos + 3 <= size) {
        const uint8_t control = data[pos];
        const size_t wanted = ((size_t(data[pos + 1]) << 8) | data[pos + 2]) & 0x0FFF;
        pos += 3;
        const size_t n = std::min(wanted, size - pos);
        section.assign(data + pos, data + pos + n);
        pos += n;
        if ((control & 0x10) == 0 && n >= 16) {
            const size_t sectionLength = n - 3;
            section[1] = static_cast<uint8_t>((section[1] & 0xF0) | (sectionLength >> 8));
            section[2] = static_cast<uint8_t>(sectionLength);
            const uint32_t crc = crc32Mpeg(section.data(), n - 4);
            for (int i = 0; i < 4; ++i)
                section[n - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        }
        writers[(control & 0x0F) % writers.size()].section(section.data(), n, (control & 0x20) != 0, out);
    }
    for (PidPacketiser& w : writers)
        w.close(out);
    return out;
}

constexpr long kLargestSample = 1 + 127 * 64;

long sampleSize(uint8_t selector)
{
    return selector < 128 ? 1 + selector : 1 + long(selector - 128) * 64;
}

// Each sample at the very end of one heap block, the bytes before it poisoned:
// a read outside the sample is caught on either side, as with an exact-size
// copy, without an allocation per sample (which took most of the time of a
// run of 1-byte samples).
class SampleWindow {
public:
    SampleWindow() { ASAN_POISON_MEMORY_REGION(block_.get(), kLargestSample); }
    ~SampleWindow() { ASAN_UNPOISON_MEMORY_REGION(block_.get(), kLargestSample); }
    const uint8_t* place(const uint8_t* bytes, long n)
    {
        uint8_t* end = block_.get() + kLargestSample;
        if (n > open_)
            ASAN_UNPOISON_MEMORY_REGION(end - n, static_cast<size_t>(n - open_));
        else if (n < open_)
            ASAN_POISON_MEMORY_REGION(end - open_, static_cast<size_t>(open_ - n));
        open_ = n;
        std::memcpy(end - n, bytes, static_cast<size_t>(n));
        return end - n;
    }

private:
    std::unique_ptr<uint8_t[]> block_{new uint8_t[kLargestSample]};
    long open_ = 0;
};

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

// The whole PID map: too slow to walk after every sample (with 1-byte samples
// it took nearly all of the time of a run).
void checkPidMap()
{
    int taken = 0;
    for (int pid = 0; pid < kPidCount; ++pid)
        taken += g_decoder.pidSlot[pid] != 0;
    check(taken < kSlotCount, "at most 15 PIDs hold a slot");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Inputs up to 1 MiB unless -max_len says otherwise: a section buffer holds
    // 128 KiB, and only long inputs reach its end.
    static char maxLength[] = "-max_len=1048576";
    static std::vector<char*> arguments;
    bool given = false;
    for (int i = 1; i < *argc; ++i)
        given = given || std::strncmp((*argv)[i], "-max_len=", 9) == 0;
    if (!given) {
        arguments.assign(*argv, *argv + *argc);
        arguments.insert(arguments.begin() + 1, maxLength);
        arguments.push_back(nullptr);
        *argv = arguments.data();
        ++*argc;
    }
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
    const size_t extra = data[1] & 15;
    size_t pos = 2;
    std::vector<int> pids{0x100, 1001};
    for (size_t i = 0; i < extra && pos + 1 < size; ++i, pos += 2)
        pids.push_back(((data[pos] << 8) | data[pos + 1]) & 0x1FFF);
    uint8_t selectors[4] = {200, 200, 200, 200};
    for (int i = 0; i < 4 && pos < size; ++i)
        selectors[i] = data[pos++];
    const uint8_t* stream = data + pos;
    long length = static_cast<long>(size - pos);
    std::vector<uint8_t> sectionStream;
    if (flags & 0x10) {
        sectionStream = streamOfSections(stream, size - pos, pids);
        stream = sectionStream.data();
        length = static_cast<long>(sectionStream.size());
    }

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

    SampleWindow window;
    PacketAligner aligner(processPacket);
    long offset = 0;
    int turn = 0;
    bool halfway = false;
    uint64_t checkedAt = 0;
    while (offset < length) {
        const long n = std::min(sampleSize(selectors[turn++ & 3]), length - offset);
        aligner.alignPackets(window.place(stream + offset, n), n);
        offset += n;
        check(aligner.carryLength <= 187, "carry within a packet");
        // The decoder's state changes only with a packet: with small samples,
        // checking it after each of them would take most of the time.
        if (aligner.packetsDelivered() != checkedAt) {
            checkedAt = aligner.packetsDelivered();
            checkState();
        }
        if (!halfway && offset * 2 >= length) {
            halfway = true;
            if (flags & 4)
                aligner.resync();
            if (flags & 8) {
                releaseSlot(pids[0]);
                assignSlot(pids[0]);
            }
            checkState();
            checkPidMap();
        }
    }
    checkState();
    checkPidMap();
    // Per-PID counters agree with each other.
    for (int pid : pids)
        check(counterValue(s.pidSelectedPackets[pid]) <= counterValue(s.pidPackets[pid]), "selected <= all");

    closeAdapter(s.adapterHandle);
    s.adapterHandle = nullptr;
    clearSlots();
    return 0;
}
