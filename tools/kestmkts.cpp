// kestmkts: writes a transport stream of MPE-encapsulated UDP datagrams, for
// benchmarks and tests.
//   kestmkts [--pid N]... [--bytes TOTAL] [--count N] [--payload MIN[:MAX]]
//            [--mac XX:XX:XX:XX:XX:XX] [--multicast] [--broadcast] [--unpacked] [--seed N] OUT|-
// Datagrams go round-robin over the PIDs (default 0x100, 0x101, 0x102), to the
// station address, and with --multicast / --broadcast also to 239.1.1.1 and the
// broadcast address in turn. Each payload starts with a 64-bit sequence number.
#include "drivers/tsgen/mpe_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: kestmkts [--pid N]... [--bytes TOTAL] [--count N] [--payload MIN[:MAX]] "
                         "[--mac XX:XX:XX:XX:XX:XX] [--multicast] [--broadcast] [--unpacked] [--seed N] OUT|-\n");
}

bool parseMac(const char* text, tsgen::MacAddress& mac)
{
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(v[i]);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<uint16_t> pids;
    unsigned long long totalBytes = 0, count = 0;
    size_t minPayload = 1372, maxPayload = 1372; // 1400-byte datagrams
    tsgen::MacAddress station{0, 0, 0, 0, 0, 0};
    bool multicast = false, broadcast = false, packed = true;
    unsigned seed = 1;
    const char* outPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--pid") {
            const char* v = value();
            if (!v) return usage(), 2;
            const long pid = std::strtol(v, nullptr, 0);
            if (pid < 0 || pid > 8191) return usage(), 2;
            pids.push_back(static_cast<uint16_t>(pid));
        } else if (arg == "--bytes") {
            const char* v = value();
            if (!v) return usage(), 2;
            totalBytes = std::strtoull(v, nullptr, 0);
        } else if (arg == "--count") {
            const char* v = value();
            if (!v) return usage(), 2;
            count = std::strtoull(v, nullptr, 0);
        } else if (arg == "--payload") {
            const char* v = value();
            if (!v) return usage(), 2;
            char* end = nullptr;
            minPayload = std::strtoul(v, &end, 10);
            maxPayload = *end == ':' ? std::strtoul(end + 1, nullptr, 10) : minPayload;
            if (minPayload < 8 || maxPayload < minPayload || maxPayload > 1472) return usage(), 2;
        } else if (arg == "--mac") {
            const char* v = value();
            if (!v || !parseMac(v, station)) return usage(), 2;
        } else if (arg == "--multicast") {
            multicast = true;
        } else if (arg == "--broadcast") {
            broadcast = true;
        } else if (arg == "--unpacked") {
            packed = false;
        } else if (arg == "--seed") {
            const char* v = value();
            if (!v) return usage(), 2;
            seed = static_cast<unsigned>(std::strtoul(v, nullptr, 0));
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return usage(), 2;
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            return usage(), 2;
        }
    }
    if (!outPath || (totalBytes == 0 && count == 0)) return usage(), 2;
    if (pids.empty()) pids = {0x100, 0x101, 0x102};

    FILE* out = std::strcmp(outPath, "-") == 0 ? stdout : std::fopen(outPath, "wb");
    if (!out) {
        std::fprintf(stderr, "kestmkts: cannot write %s: %s\n", outPath, std::strerror(errno));
        return 1;
    }
    std::vector<tsgen::MpeStreamWriter> writers;
    for (uint16_t pid : pids) {
        writers.emplace_back(pid);
        writers.back().setPacked(packed);
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> sizes(minPayload, maxPayload);
    std::vector<uint8_t> buffer, payload(1472);
    unsigned long long written = 0, sequence = 0;
    const tsgen::MacAddress multicastMac{0x01, 0x00, 0x5E, 0x01, 0x01, 0x01};
    const tsgen::MacAddress broadcastMac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    while ((count == 0 || sequence < count) && (totalBytes == 0 || written < totalBytes)) {
        const size_t n = sizes(random);
        for (size_t k = 0; k < n; ++k)
            payload[k] = static_cast<uint8_t>(sequence * 31 + k);
        for (int k = 0; k < 8; ++k)
            payload[k] = static_cast<uint8_t>(sequence >> (8 * (7 - k)));
        const int kinds = 1 + (multicast ? 1 : 0) + (broadcast ? 1 : 0);
        int kind = static_cast<int>(sequence % kinds);
        if (kind == 1 && !multicast) kind = 2;
        const tsgen::MacAddress& mac = kind == 0 ? station : kind == 1 ? multicastMac : broadcastMac;
        const uint32_t dst = kind == 0 ? 0x0A000002u : kind == 1 ? 0xEF010101u : 0xFFFFFFFFu;
        const auto datagram = tsgen::makeUdpDatagram(0x0A000001u, dst, 40000, 4000, payload.data(), n);
        writers[sequence % writers.size()].writeSection(mac, datagram.data(), datagram.size(), buffer);
        ++sequence;
        if (buffer.size() >= (1u << 20)) {
            if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
                std::fprintf(stderr, "kestmkts: cannot write %s: %s\n", outPath, std::strerror(errno));
                return 1;
            }
            written += buffer.size();
            buffer.clear();
        }
    }
    for (auto& w : writers)
        w.flush(buffer);
    // A closing section start on every PID, so the decoder hands over the last datagram.
    const uint8_t closing[28] = {0x45, 0, 0, 28};
    for (auto& w : writers) {
        w.writeSection(tsgen::MacAddress{0x02, 0, 0, 0, 0, 0x99}, closing, sizeof closing, buffer);
        w.flush(buffer);
    }
    const bool ok = std::fwrite(buffer.data(), 1, buffer.size(), out) == buffer.size() && std::fflush(out) == 0;
    if (out != stdout)
        std::fclose(out);
    if (!ok) {
        std::fprintf(stderr, "kestmkts: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}
