// The least that decoding an MPE stream takes, for comparison with kestdecode:
// the file read as kestdecode reads it (256 KiB at a time), the packets of the
// chosen PIDs cut into sections (a section that spans packets copied together,
// one that lies inside a packet left where it is), the CRC_32 of every section
// checked and every datagram copied once into a frame. No counters, no address
// filter, no adapter, no handling of damage beyond staying in bounds: what is
// left of kestdecode's time is what none of that can take away.
//   kest_decode_floor FILE PID...
#include "decoder/crc32.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kReadSize = size_t(256) << 10;
constexpr size_t kPacketSize = 188;
constexpr uint32_t kSectionBufferSize = 4096 + 3;

struct Assembly {
    uint8_t data[kSectionBufferSize];
    uint32_t held = 0;
};

struct Totals {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t crcErrors = 0;
};

alignas(64) uint8_t g_frame[1520];

uint32_t sectionSize(const uint8_t* header) { return 3 + ((uint32_t(header[1] & 0x0F) << 8) | header[2]); }

void decodeSection(const uint8_t* section, uint32_t size, Totals& totals)
{
    if (size < 16 || crc32Mpeg(section, size) != 0) {
        ++totals.crcErrors;
        return;
    }
    const uint32_t datagram = size - 12 - 4;
    if (datagram > sizeof g_frame - 14)
        return;
    std::memcpy(g_frame + 14, section + 12, datagram);
    ++totals.frames;
    totals.bytes += datagram;
}

// Payload bytes of one packet on a chosen PID, from `data` on.
void takePayload(Assembly& a, const uint8_t* data, uint32_t count, Totals& totals)
{
    while (count > 0) {
        if (a.held == 0) {
            if (data[0] == 0xFF)
                return; // stuffing
            if (count >= 3 && sectionSize(data) <= count) {
                const uint32_t size = sectionSize(data);
                decodeSection(data, size, totals);
                data += size;
                count -= size;
                continue;
            }
        }
        uint32_t want = count;
        if (a.held >= 3)
            want = sectionSize(a.data) - a.held;
        else if (a.held + count >= 3) {
            uint8_t header[3];
            for (uint32_t i = 0; i < 3; ++i)
                header[i] = i < a.held ? a.data[i] : data[i - a.held];
            want = sectionSize(header) - a.held;
        }
        const uint32_t take = want < count ? want : count;
        if (a.held + take > kSectionBufferSize) {
            a.held = 0;
            return;
        }
        std::memcpy(a.data + a.held, data, take);
        a.held += take;
        data += take;
        count -= take;
        if (a.held >= 3 && a.held == sectionSize(a.data)) {
            decodeSection(a.data, a.held, totals);
            a.held = 0;
        }
    }
}

void takePacket(const uint8_t* packet, std::vector<Assembly*>& byPid, Totals& totals)
{
    const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
    Assembly* a = byPid[pid];
    if (a == nullptr || (packet[3] & 0x10) == 0)
        return;
    const uint8_t* payload = packet + 4;
    uint32_t size = 184;
    if (packet[3] & 0x20) {
        const uint32_t skip = payload[0] + 1u;
        if (skip >= size)
            return;
        payload += skip;
        size -= skip;
    }
    if (packet[1] & 0x40) {
        const uint32_t pointer = payload[0];
        if (pointer + 1 > size)
            return;
        if (a->held > 0)
            takePayload(*a, payload + 1, pointer, totals);
        a->held = 0;
        payload += 1 + pointer;
        size -= 1 + pointer;
    }
    takePayload(*a, payload, size, totals);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kest_decode_floor FILE PID...\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<Assembly> assemblies(static_cast<size_t>(argc - 2));
    std::vector<Assembly*> byPid(8192, nullptr);
    for (int i = 2; i < argc; ++i)
        byPid[std::strtoul(argv[i], nullptr, 0) & 0x1FFF] = &assemblies[static_cast<size_t>(i - 2)];

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadSize]);
    size_t held = 0;
    Totals totals;
    for (;;) {
        const ssize_t n = read(fd, buffer.get() + held, kReadSize - held);
        if (n <= 0)
            break;
        held += static_cast<size_t>(n);
        size_t at = 0;
        for (; at + kPacketSize <= held; at += kPacketSize)
            if (buffer[at] == 0x47)
                takePacket(buffer.get() + at, byPid, totals);
        std::memmove(buffer.get(), buffer.get() + at, held - at);
        held -= at;
    }
    close(fd);
    std::printf("frames: %llu\nbytes: %llu\nCRC errors: %llu\n", static_cast<unsigned long long>(totals.frames),
                static_cast<unsigned long long>(totals.bytes), static_cast<unsigned long long>(totals.crcErrors));
    return 0;
}
