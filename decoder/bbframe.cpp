// Baseband frames: header check, the three sources, on to GSE.
#include "decoder/bbframe.h"

#include "decoder/decoder.h"
#include "decoder/gse.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kGenericContinuous = 0x40; // TS/GS field 01, MATYPE-1 bits 7-6
constexpr uint8_t kSingleStream = 0x20;      // SIS/MIS bit of MATYPE-1
constexpr int kSingleInputStream = 256;       // the stream of a single-stream carrier, beside ISIs 0..255
constexpr uint8_t kSectionTable = 0x80;
constexpr uint8_t kHeaderPacketMark = 0xB8;
constexpr uint32_t kMaxSectionLength = 0xB4; // 180: a section fills its packet

struct PseudoStream {
    enum State : uint8_t { Waiting, Collecting, Done } state = Waiting;
    uint8_t nextNumber = 0;
    int lastContinuity = -1;
    uint32_t needed = 0;
    uint32_t held = 0;
    uint8_t frame[kMaxBasebandFrame + kMaxSectionLength];
};

PseudoStream g_pseudo[2] = {};
int g_isiFilter = -1;

uint8_t g_crcTable[256];
bool g_crcTableReady = false;

void buildCrcTable()
{
    for (int i = 0; i < 256; ++i) {
        uint8_t crc = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0xD5) : static_cast<uint8_t>(crc << 1);
        g_crcTable[i] = crc;
    }
    g_crcTableReady = true;
}

void countFrameError() { countError(g_decoder.rxBbFrameErrors); }

inline uint32_t dataFieldBits(const uint8_t* header) { return (uint32_t(header[4]) << 8) | header[5]; }

// A frame lost part of itself: dropped, counted once.
void damage(PseudoStream& s)
{
    if (s.state == PseudoStream::Collecting)
        countFrameError();
    s.state = PseudoStream::Waiting;
    s.held = 0;
}

void append(PseudoStream& s, const uint8_t* data, uint32_t count)
{
    std::memcpy(s.frame + s.held, data, count);
    s.held += count;
    if (s.held >= kBbHeaderSize && s.needed == 0) {
        if (!bbHeaderValid(s.frame)) {
            countFrameError();
            s.state = PseudoStream::Waiting;
            s.held = 0;
            return;
        }
        s.needed = kBbHeaderSize + dataFieldBits(s.frame) / 8;
    }
    if (s.needed != 0 && s.held >= s.needed) {
        decodeBasebandFrame(s.frame, s.held);
        s.state = PseudoStream::Done;
        s.held = 0;
    }
}

} // namespace

int bbframe_detail::pids[2] = {kBasebandFramePid, kBasebandFramePidAlternative};

uint8_t bbHeaderCrc8(const uint8_t* data, size_t length)
{
    if (!g_crcTableReady)
        buildCrcTable();
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i)
        crc = g_crcTable[crc ^ data[i]];
    return crc;
}

bool bbHeaderValid(const uint8_t* header)
{
    if (bbHeaderCrc8(header, kBbHeaderSize - 1) != header[kBbHeaderSize - 1])
        return false;
    const uint32_t bits = dataFieldBits(header);
    return bits % 8 == 0 && kBbHeaderSize + bits / 8 <= kMaxBasebandFrame;
}

void decodeBasebandFrame(const uint8_t* frame, size_t size)
{
    if (size < size_t(kBbHeaderSize) || !bbHeaderValid(frame)) {
        countFrameError();
        return;
    }
    const uint32_t dataField = dataFieldBits(frame) / 8;
    if (kBbHeaderSize + dataField > size) {
        countFrameError();
        return;
    }
    const uint8_t matype1 = frame[0];
    if ((matype1 & 0xC0) != kGenericContinuous)
        return;
    const bool single = (matype1 & kSingleStream) != 0;
    const int stream = single ? kSingleInputStream : frame[1];
    if (!single && g_isiFilter >= 0 && stream != g_isiFilter)
        return;
    decodeGseDataField(stream, frame + kBbHeaderSize, dataField);
}

size_t BasebandFrameScanner::scan(const uint8_t* data, size_t size)
{
    size_t at = 0;
    while (size - at >= size_t(kBbHeaderSize)) {
        if (!bbHeaderValid(data + at)) {
            ++at; // padding, or bytes of a damaged frame
            continue;
        }
        const size_t frameSize = kBbHeaderSize + dataFieldBits(data + at) / 8;
        if (frameSize > size - at)
            return at;
        decodeBasebandFrame(data + at, frameSize);
        at += frameSize;
    }
    return at;
}

void BasebandFrameScanner::feed(const uint8_t* data, size_t size)
{
    if (held_ > 0) {
        // Complete the frame cut at the end of the last piece. The carry holds
        // less than a frame, so with up to a frame more it is whole.
        const size_t take = std::min(size, sizeof carry_ - held_);
        std::memcpy(carry_ + held_, data, take);
        const size_t total = held_ + take;
        const size_t used = scan(carry_, total);
        if (used < held_) {
            std::memmove(carry_, carry_ + used, total - used);
            held_ = total - used;
            return;
        }
        data += used - held_;
        size -= used - held_;
        held_ = 0;
    }
    const size_t used = scan(data, size);
    held_ = size - used; // less than a frame
    std::memcpy(carry_, data + used, held_);
}

void setBasebandFramePids(int first, int second)
{
    bbframe_detail::pids[0] = first;
    bbframe_detail::pids[1] = second;
    for (PseudoStream& s : g_pseudo) {
        s.state = PseudoStream::Waiting;
        s.held = 0;
        s.lastContinuity = -1;
    }
}

void setInputStreamFilter(int isi) { g_isiFilter = isi; }

int inputStreamFilter() { return g_isiFilter; }

void resetBasebandFrames()
{
    setBasebandFramePids(kBasebandFramePid, kBasebandFramePidAlternative);
    g_isiFilter = -1;
    resetGse();
}

bool processBasebandFramePacket(int pid, const uint8_t* packet)
{
    const int index = pid == bbframe_detail::pids[0] ? 0 : pid == bbframe_detail::pids[1] ? 1 : -1;
    if (index < 0)
        return false;
    PseudoStream& s = g_pseudo[index];
    const bool unitStart = (packet[1] & 0x40) != 0;
    const bool clean = (packet[1] & 0x80) == 0 && (packet[3] & 0xF0) == 0x10; // no error, clear, payload only
    const uint32_t sectionLength = (uint32_t(packet[6] & 0x0F) << 8) | packet[7];
    const bool section = clean && unitStart && packet[4] == 0 && packet[5] == kSectionTable && sectionLength >= 1
                         && sectionLength <= kMaxSectionLength;
    const int continuity = packet[3] & 0x0F;
    if (!section) {
        // Not of this stream, or damaged on the way: a frame in progress has a hole.
        const bool inProgress = s.state == PseudoStream::Collecting;
        damage(s);
        return inProgress;
    }
    if (continuity == s.lastContinuity)
        return true; // a duplicate
    const bool inSequence = continuity == ((s.lastContinuity + 1) & 0x0F);
    s.lastContinuity = continuity;
    const uint8_t number = packet[8];
    const uint8_t* data = packet + 9;
    const uint32_t count = sectionLength - 1;
    if (number == kHeaderPacketMark) {
        // A frame still short of its data field lost its end.
        damage(s);
        s.state = PseudoStream::Collecting;
        s.nextNumber = 1;
        s.needed = 0;
        s.held = 0;
        append(s, data, count);
        return true;
    }
    if (s.state != PseudoStream::Collecting)
        return true; // the rest of a frame that is complete, or was dropped
    if (!inSequence || number != s.nextNumber) {
        damage(s);
        return true;
    }
    ++s.nextNumber;
    if (s.held + count > sizeof s.frame) {
        damage(s);
        return true;
    }
    append(s, data, count);
    if (s.state == PseudoStream::Collecting && sectionLength < kMaxSectionLength)
        damage(s); // the last packet came before the data field was complete
    return true;
}
