// Shared helpers of the decoder tests: transport packet and MPE section
// builders, a capture device in place of the virtual adapter, and a fixture
// that puts the global decoder state back to a known start for every test.
#pragma once

#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace dt {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

// ---- Transport packets --------------------------------------------------------

struct PacketFields {
    int pid = 0x100;
    int continuity = 0;
    bool unitStart = false;
    bool transportError = false;
    int scrambling = 0;
    int adaptationControl = 1; // bit 1: adaptation field, bit 0: payload
};

// A 188-byte packet: header from `f`, then `body` (the payload area, including
// any adaptation field and pointer field), the rest filled with 0xFF.
inline Bytes packet(const PacketFields& f, const Bytes& body = {})
{
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((f.transportError ? 0x80 : 0) | (f.unitStart ? 0x40 : 0) | ((f.pid >> 8) & 0x1F));
    p[2] = static_cast<uint8_t>(f.pid & 0xFF);
    p[3] = static_cast<uint8_t>(((f.scrambling & 3) << 6) | ((f.adaptationControl & 3) << 4) | (f.continuity & 0x0F));
    for (size_t i = 0; i < body.size() && i < 184; ++i)
        p[4 + i] = body[i];
    return p;
}

// A section start: pointer field, then `data`.
inline Bytes startPacket(int pid, int continuity, uint8_t pointer, const Bytes& data)
{
    Bytes body{pointer};
    body.insert(body.end(), data.begin(), data.end());
    PacketFields f;
    f.pid = pid;
    f.continuity = continuity;
    f.unitStart = true;
    return packet(f, body);
}

inline Bytes continuationPacket(int pid, int continuity, const Bytes& data)
{
    PacketFields f;
    f.pid = pid;
    f.continuity = continuity;
    return packet(f, data);
}

// ---- Datagrams and MPE sections -----------------------------------------------

// An IPv4 datagram of `totalLength` bytes (version 4, IHL 5, total length in
// bytes 2-3, the rest a pattern seeded by `seed`).
inline Bytes ipv4(uint32_t totalLength, uint8_t seed = 1)
{
    Bytes d(totalLength < 20 ? 20 : totalLength);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(seed + i * 7);
    d[0] = 0x45;
    d[2] = static_cast<uint8_t>(totalLength >> 8);
    d[3] = static_cast<uint8_t>(totalLength);
    d.resize(totalLength);
    return d;
}

// An IPv6 datagram with `payloadLength` bytes behind its 40-byte header.
inline Bytes ipv6(uint32_t payloadLength, uint8_t seed = 3)
{
    Bytes d(40 + payloadLength);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<uint8_t>(seed + i * 5);
    d[0] = 0x60;
    d[4] = static_cast<uint8_t>(payloadLength >> 8);
    d[5] = static_cast<uint8_t>(payloadLength);
    return d;
}

// MPEG-2 CRC-32, bit by bit: the reference the decoder's kernels are held to.
inline uint32_t referenceCrc32(const uint8_t* data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Writes the CRC_32 of a section into its last four bytes.
inline void sealSection(Bytes& section)
{
    const uint32_t crc = referenceCrc32(section.data(), section.size() - 4);
    for (int i = 0; i < 4; ++i)
        section[section.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

struct SectionOptions {
    uint8_t flags = 0xC1;             // byte 5 (the LLC_SNAP_flag bit is set by llcSnap)
    bool llcSnap = false;
    Bytes llcHeader = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00};
    uint16_t ethertype = 0x0800;      // in the LLC/SNAP header
    int sectionLengthAdjust = 0;      // added to the correct section_length
    uint8_t tableId = 0x3E;
};

// A DSM-CC MPE section for station address `mac` (transmission order) carrying
// `datagram`, closed by its CRC_32.
inline Bytes mpeSection(const Mac& mac, const Bytes& datagram, const SectionOptions& o = {})
{
    Bytes s;
    s.push_back(o.tableId);
    s.push_back(0); // length filled below
    s.push_back(0);
    s.push_back(mac[5]); // MAC_address_6
    s.push_back(mac[4]); // MAC_address_5
    s.push_back(static_cast<uint8_t>(o.llcSnap ? (o.flags | 0x02) : o.flags));
    s.push_back(0); // section_number
    s.push_back(0); // last_section_number
    s.push_back(mac[3]);
    s.push_back(mac[2]);
    s.push_back(mac[1]);
    s.push_back(mac[0]); // MAC_address_1
    if (o.llcSnap) {
        s.insert(s.end(), o.llcHeader.begin(), o.llcHeader.end());
        s.push_back(static_cast<uint8_t>(o.ethertype >> 8));
        s.push_back(static_cast<uint8_t>(o.ethertype));
    }
    s.insert(s.end(), datagram.begin(), datagram.end());
    s.insert(s.end(), 4, 0); // CRC_32
    const int sectionLength = static_cast<int>(s.size()) - 3 + o.sectionLengthAdjust;
    s[1] = static_cast<uint8_t>(0xB0 | ((sectionLength >> 8) & 0x0F));
    s[2] = static_cast<uint8_t>(sectionLength & 0xFF);
    sealSection(s);
    return s;
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The Ethernet II frame the decoder should build for a datagram.
inline Bytes expectedFrame(const Mac& destination, uint16_t ethertype, const Bytes& datagram)
{
    Bytes f(destination.begin(), destination.end());
    f.insert(f.end(), 6, 0);
    f.push_back(static_cast<uint8_t>(ethertype >> 8));
    f.push_back(static_cast<uint8_t>(ethertype));
    f.insert(f.end(), datagram.begin(), datagram.end());
    return f;
}

// Packetises a run of sections (and stuffing) on one PID the way an encoder
// does: sections back to back, a packet whose payload holds a section start
// gets payload_unit_start_indicator and a pointer field to the first start in
// it. `starts` are the offsets in `stream` where sections begin. The last
// packet is padded with 0xFF. Continuity counters start at `continuity`,
// which is left at the next value.
inline std::vector<Bytes> packetise(int pid, const Bytes& stream, const std::vector<size_t>& starts,
                                    int& continuity)
{
    std::vector<Bytes> packets;
    size_t pos = 0;
    size_t nextStart = 0;
    while (pos < stream.size()) {
        while (nextStart < starts.size() && starts[nextStart] < pos)
            ++nextStart;
        const bool hasStart = nextStart < starts.size() && starts[nextStart] < pos + 183;
        Bytes body;
        if (hasStart) {
            const size_t pointer = starts[nextStart] - pos;
            body.push_back(static_cast<uint8_t>(pointer));
            const size_t take = std::min<size_t>(183, stream.size() - pos);
            body.insert(body.end(), stream.begin() + pos, stream.begin() + pos + take);
            pos += take;
        } else {
            const size_t take = std::min<size_t>(184, stream.size() - pos);
            body.insert(body.end(), stream.begin() + pos, stream.begin() + pos + take);
            pos += take;
        }
        PacketFields f;
        f.pid = pid;
        f.continuity = continuity;
        f.unitStart = hasStart;
        packets.push_back(packet(f, body));
        continuity = (continuity + 1) & 0x0F;
    }
    return packets;
}

// Sections back to back, each starting where the previous ends, followed by an
// empty section start stuffed with 0xFF (table id 0xFF), as an encoder closes a
// burst; the decoder needs none to hand on the last section.
inline std::vector<Bytes> packetiseSections(int pid, const std::vector<Bytes>& sections, int& continuity)
{
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes& s : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), s.begin(), s.end());
    }
    std::vector<Bytes> packets = packetise(pid, stream, starts, continuity);
    packets.push_back(startPacket(pid, continuity, 0, Bytes(183, 0xFF)));
    continuity = (continuity + 1) & 0x0F;
    return packets;
}

inline void feed(const std::vector<Bytes>& packets)
{
    for (const Bytes& p : packets)
        processPacket(p.data());
}

inline Bytes flatten(const std::vector<Bytes>& packets)
{
    Bytes out;
    for (const Bytes& p : packets)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ---- Exact-size section buffers -------------------------------------------------

// Installs `bytes` as a pool entry whose allocation is exactly bytes.size()
// (at least 1) bytes, so that AddressSanitizer catches any read past the data.
inline int exactBuffer(const Bytes& bytes)
{
    SectionBufferPool& pool = g_decoder.sectionBuffers;
    for (int h = 0; h < SectionBufferPool::kEntryCount; ++h) {
        if (pool.entries[h].data != nullptr)
            continue;
        auto* data = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
        if (!bytes.empty())
            std::memcpy(data, bytes.data(), bytes.size());
        pool.entries[h] = SectionBufferEntry{data, static_cast<uint32_t>(bytes.size()),
                                             static_cast<uint32_t>(bytes.size())};
        return h;
    }
    return -1;
}

// ---- Capture device in place of the adapter driver -------------------------------

struct CaptureState {
    std::mutex mutex;
    std::vector<Bytes> frames;        // each frame of each IOCTL_SEND_FRAMES
    std::vector<Bytes> batches;       // raw 24388-byte batches (when keepBatches)
    std::vector<DWORD> batchSizes;
    std::vector<DWORD> openAccesses;
    int sendRequests = 0;
    int otherRequests = 0;
    bool keepBatches = true;
    bool refuseSends = false;
    bool refuseByteCount = false;
    uint32_t byteCount = 0;
    std::optional<uint64_t> lostFrames; // unset: the request is not supported
    Mac stationAddress{};
    bool rewriteAddress = false; // writes back the address with its first byte replaced by 0x02
};

class CaptureFile : public platform::DeviceFile {
public:
    explicit CaptureFile(std::shared_ptr<CaptureState> state) : state_(std::move(state)) {}
    bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 DWORD* error) override
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        *returned = 0;
        switch (code) {
        case IOCTL_SEND_FRAMES: {
            ++state_->sendRequests;
            state_->batchSizes.push_back(inSize);
            if (state_->refuseSends || in == nullptr || inSize != sizeof(FrameBatch)) {
                *error = ERROR_GEN_FAILURE;
                return false;
            }
            const auto* batch = static_cast<const FrameBatch*>(in);
            if (state_->keepBatches) {
                const auto* raw = static_cast<const uint8_t*>(in);
                state_->batches.emplace_back(raw, raw + inSize);
            }
            for (uint32_t i = 0; i < batch->frameCount && i < kFrameSlotCount; ++i) {
                const uint32_t n = std::min<uint32_t>(batch->frameLengths[i], kFrameSlotSize);
                state_->frames.emplace_back(batch->frames[i], batch->frames[i] + n);
                state_->byteCount += n;
            }
            return true;
        }
        case IOCTL_READ_BYTE_COUNT:
            ++state_->otherRequests;
            if (state_->refuseByteCount || out == nullptr || outSize < 4) {
                *error = ERROR_INSUFFICIENT_BUFFER;
                return false;
            }
            std::memcpy(out, &state_->byteCount, 4);
            *returned = 4;
            return true;
        case IOCTL_READ_LOST_FRAMES:
            ++state_->otherRequests;
            if (!state_->lostFrames || out == nullptr || outSize < 8) {
                *error = !state_->lostFrames ? ERROR_NOT_SUPPORTED : ERROR_INSUFFICIENT_BUFFER;
                return false;
            }
            std::memcpy(out, &*state_->lostFrames, 8);
            *returned = 8;
            return true;
        case IOCTL_SET_STATION_ADDRESS:
            ++state_->otherRequests;
            if (in == nullptr || inSize != 6 || out == nullptr || outSize < 6) {
                *error = ERROR_INVALID_PARAMETER;
                return false;
            }
            std::memcpy(state_->stationAddress.data(), in, 6);
            if (state_->rewriteAddress)
                static_cast<uint8_t*>(out)[0] = 0x02;
            *returned = 6;
            return true;
        default:
            ++state_->otherRequests;
            *error = ERROR_NOT_SUPPORTED;
            return false;
        }
    }

private:
    std::shared_ptr<CaptureState> state_;
};

class CaptureDriver : public platform::DeviceDriver {
public:
    std::shared_ptr<CaptureState> state = std::make_shared<CaptureState>();
    std::unique_ptr<platform::DeviceFile> open(DWORD access, DWORD*) override
    {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->openAccesses.push_back(access);
        }
        return std::make_unique<CaptureFile>(state);
    }
};

// ---- Global state reset ------------------------------------------------------------

// Frees every slot and pool entry, zeroes the counters, the tables, the frame
// batch and the filter: the state of a fresh bring-up (tables allocated,
// clearSlots done), without an adapter.
inline void resetDecoder()
{
    DecoderState& s = g_decoder;
    clearSlots();
    for (int h = 0; h < SectionBufferPool::kEntryCount; ++h)
        s.sectionBuffers.freeBuffer(h);
    ASSERT_TRUE(allocatePidTables());
    resetErrorCounters();
    std::memset(s.macFilter, 0, sizeof s.macFilter);
    std::memset(&s.frameBatch, 0, sizeof s.frameBatch);
    s.packetCallback = nullptr;
}

inline void setMacFilter(const Mac& mac) { std::memcpy(g_decoder.macFilter, mac.data(), 6); }

inline uint64_t value(const Counter& c) { return counterValue(c); }

// Every error counter, in the declared order.
inline std::array<uint64_t, 8> errorCounters()
{
    const DecoderState& s = g_decoder;
    return {value(s.rxErrors),        value(s.rxContinuityErrors), value(s.rxMemErrors),
            value(s.rxScrambledErrors), value(s.rxPointerErrors),  value(s.rxLengthErrors),
            value(s.rxCrcErrors),     value(s.rxDropped)};
}

inline std::array<uint64_t, 8> noErrors() { return {}; }

// Errors: total first, then one specific counter (index 1..7) with `n`.
inline std::array<uint64_t, 8> onlyError(int index, uint64_t n = 1)
{
    std::array<uint64_t, 8> a{};
    a[0] = n;
    a[static_cast<size_t>(index)] = n;
    return a;
}
enum ErrorIndex { kContinuity = 1, kMem = 2, kScrambled = 3, kPointer = 4, kLength = 5, kCrc = 6, kDropped = 7 };

// Fixture: reset state, a capture device registered as "SatNicDv-1" and opened
// as the adapter.
class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDecoder();
        driver = std::make_shared<CaptureDriver>();
        platform::registerDevice(kAdapterDeviceName, driver);
        g_decoder.adapterHandle = openAdapter();
        ASSERT_NE(g_decoder.adapterHandle, nullptr);
    }
    void TearDown() override
    {
        closeAdapter(g_decoder.adapterHandle);
        g_decoder.adapterHandle = nullptr;
        platform::unregisterDevice(kAdapterDeviceName);
        clearSlots();
        for (int h = 0; h < SectionBufferPool::kEntryCount; ++h)
            g_decoder.sectionBuffers.freeBuffer(h);
        freePidTables();
    }

    const std::vector<Bytes>& frames() const { return driver->state->frames; }
    CaptureState& capture() { return *driver->state; }
    SectionSlot& slotOf(int pid) { return g_decoder.sectionSlots[g_decoder.pidSlot[pid]]; }

    std::shared_ptr<CaptureDriver> driver;
};

} // namespace dt
