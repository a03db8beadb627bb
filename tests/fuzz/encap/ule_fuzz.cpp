// libFuzzer target: transport packets on a PID that carries ULE.
//
// Input: byte 0 flags (bit 0 station filter, bit 1 fix up the CRC-32 of each
// SNDU record so that it reaches the frame builder), then records:
// 1 byte: bit 0 payload_unit_start_indicator, bits 4-7 how far the
// continuity counter jumps beyond the next value (0: in sequence); then the packet's 184 bytes behind its header (cut to the
// input left, padded with 0xFF). With bit 1 of the flags the input after
// byte 0 is instead a run of SNDUs (2 bytes D and length first) packed into
// packets as an encapsulator does.
#include "decoder/ule.h"
#include "sink.h"
#include "tests/support/encap_builders.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kPid = 0x300;

void sendPacket(bool start, int cc, const uint8_t* payload, size_t n)
{
    uint8_t p[188];
    std::memset(p, 0xFF, sizeof p);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>((start ? 0x40 : 0) | (kPid >> 8));
    p[2] = static_cast<uint8_t>(kPid & 0xFF);
    p[3] = static_cast<uint8_t>(0x10 | (cc & 0x0F));
    std::memcpy(p + 4, payload, std::min<size_t>(n, 184));
    processPacket(p);
}

// SNDUs with their CRC-32 put right, packed from packet to packet.
void packSndus(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> stream;
    std::vector<size_t> starts;
    size_t pos = 0;
    while (pos + 4 <= size) {
        const size_t length = std::min<size_t>((size_t(data[pos] & 0x7F) << 8) | data[pos + 1], size - pos - 4);
        starts.push_back(stream.size());
        stream.insert(stream.end(), data + pos, data + pos + 4 + length);
        const size_t at = starts.back();
        stream[at] = static_cast<uint8_t>((stream[at] & 0x80) | (length >> 8));
        stream[at + 1] = static_cast<uint8_t>(length);
        if (length >= 4) {
            const uint32_t crc = encap::crc32(stream.data() + at, length);
            for (int i = 0; i < 4; ++i)
                stream[at + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        }
        pos += 4 + length;
    }
    size_t at = 0, next = 0;
    int cc = 0;
    while (at < stream.size()) {
        while (next < starts.size() && starts[next] < at)
            ++next;
        const bool start = next < starts.size() && starts[next] < at + 183;
        uint8_t payload[184];
        std::memset(payload, 0xFF, sizeof payload);
        size_t o = 0;
        if (start)
            payload[o++] = static_cast<uint8_t>(starts[next] - at);
        const size_t take = std::min(184 - o, stream.size() - at);
        std::memcpy(payload + o, stream.data() + at, take);
        sendPacket(start, cc++, payload, sizeof payload);
        at += take;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzsink::setUp((data[0] & 1) != 0);
    assignSlot(kPid, SlotUle);
    if (data[0] & 2) {
        packSndus(data + 1, size - 1);
    } else {
        int cc = 0;
        size_t pos = 1;
        while (pos < size) {
            const uint8_t control = data[pos++];
            const size_t n = std::min<size_t>(184, size - pos);
            uint8_t payload[184];
            std::memset(payload, 0xFF, sizeof payload);
            std::memcpy(payload, data + pos, n);
            pos += n;
            cc += 1 + (control >> 4);
            sendPacket((control & 1) != 0, cc, payload, sizeof payload);
        }
    }
    fuzzsink::checkCounters();
    return 0;
}
