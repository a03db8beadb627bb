// vmtool: what the VM tests need of the kernel that a shell cannot do.
//   vmtool props FRONTEND              the tuning the frontend holds, one line
//   vmtool net-add NETDEV PID mpe|ule  a dvb_net interface for PID; prints its name
//   vmtool capture IFNAME FILE SECONDS the frames received on IFNAME into a pcap file,
//                                      until SECONDS pass without one
//   vmtool close IN OUT                IN with a section start on each of its PIDs at the end
//                                      (table id 0xff, stuffing), after which the receiver,
//                                      which hands a section on when the next starts on its
//                                      PID, has passed the last section too
//   vmtool mkts OUT PID MAC PAYLOAD... a stream of UDP datagrams to MAC with these payload sizes
//   vmtool count FILE                  the number of frames in a pcap file
//   vmtool compare EXPECTED GOT STATION
//                                      the frames of two pcap files, frame for frame; of GOT
//                                      (dvb_net runs promiscuous) only those the receiver
//                                      passes: to STATION, multicast or broadcast, at most
//                                      1520 bytes (a datagram of 1506)
// Exit status 0 done (compare: equal), 1 failed or different (why on stderr), 2 bad arguments.
#include "drivers/tsgen/mpe_stream.h"
#include "tests/support/known_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/dvb/frontend.h>
#include <linux/dvb/net.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int fail(const std::string& why)
{
    std::fprintf(stderr, "vmtool: %s\n", why.c_str());
    return 1;
}

const char* name(uint32_t value, const std::vector<const char*>& names)
{
    return value < names.size() ? names[value] : "?";
}

int props(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return fail(std::string(path) + ": " + std::strerror(errno));
    const uint32_t commands[] = {DTV_DELIVERY_SYSTEM, DTV_FREQUENCY, DTV_SYMBOL_RATE, DTV_MODULATION,
                                 DTV_INNER_FEC,       DTV_ROLLOFF,   DTV_PILOT,       DTV_STREAM_ID,
                                 DTV_SCRAMBLING_SEQUENCE_INDEX};
    constexpr size_t count = sizeof commands / sizeof commands[0];
    dtv_property p[count]{};
    for (size_t i = 0; i < count; ++i)
        p[i].cmd = commands[i];
    dtv_properties all{count, p};
    if (ioctl(fd, FE_GET_PROPERTY, &all) != 0)
        return fail(std::string("FE_GET_PROPERTY: ") + std::strerror(errno));
    close(fd);
    const std::vector<const char*> systems{"UNDEFINED", "DVBC_ANNEX_A", "DVBC_ANNEX_B", "DVBT", "DSS", "DVBS", "DVBS2"};
    const std::vector<const char*> modulations{"QPSK",   "QAM_16", "QAM_32",  "QAM_64",  "QAM_128", "QAM_256",
                                               "QAM_AUTO", "VSB_8", "VSB_16", "PSK_8",   "APSK_16", "APSK_32"};
    const std::vector<const char*> fecs{"NONE", "1_2", "2_3", "3_4", "4_5", "5_6",  "6_7", "7_8",
                                        "8_9",  "AUTO", "3_5", "9_10", "2_5"};
    const std::vector<const char*> rolloffs{"35", "20", "25", "AUTO"};
    const std::vector<const char*> pilots{"ON", "OFF", "AUTO"};
    std::printf("system=%s frequency=%u symbol_rate=%u modulation=%s fec=%s rolloff=%s pilot=%s stream_id=%u pls=%u\n",
                name(p[0].u.data, systems), p[1].u.data, p[2].u.data, name(p[3].u.data, modulations),
                name(p[4].u.data, fecs), name(p[5].u.data, rolloffs), name(p[6].u.data, pilots), p[7].u.data,
                p[8].u.data);
    return 0;
}

int netAdd(const char* path, const char* pid, const char* type)
{
    const int fd = open(path, O_RDWR);
    if (fd < 0)
        return fail(std::string(path) + ": " + std::strerror(errno));
    dvb_net_if request{};
    request.pid = static_cast<uint16_t>(std::strtoul(pid, nullptr, 0));
    request.feedtype = std::strcmp(type, "ule") == 0 ? DVB_NET_FEEDTYPE_ULE : DVB_NET_FEEDTYPE_MPE;
    if (ioctl(fd, NET_ADD_IF, &request) != 0)
        return fail(std::string("NET_ADD_IF: ") + std::strerror(errno));
    // The adapter's number from the device path: /dev/dvb/adapterN/netM.
    const char* adapter = std::strstr(path, "adapter");
    std::printf("dvb%d_%u\n", adapter != nullptr ? std::atoi(adapter + 7) : 0, request.if_num);
    close(fd);
    return 0;
}

void put32(std::FILE* f, uint32_t v) { std::fwrite(&v, 4, 1, f); }

int capture(const char* ifname, const char* file, int seconds)
{
    const int s = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    if (s < 0)
        return fail(std::string("packet socket: ") + std::strerror(errno));
    // The stream written into dvr arrives in one burst.
    const int buffer = 64 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_ALL);
    where.sll_ifindex = static_cast<int>(if_nametoindex(ifname));
    if (where.sll_ifindex == 0 || bind(s, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        return fail(std::string(ifname) + ": " + std::strerror(errno));
    std::FILE* out = std::fopen(file, "wb");
    if (out == nullptr)
        return fail(std::string(file) + ": " + std::strerror(errno));
    put32(out, 0xa1b2c3d4);
    const uint16_t version[2] = {2, 4};
    std::fwrite(version, 2, 2, out);
    put32(out, 0);
    put32(out, 0);
    put32(out, 65535);
    put32(out, 1);
    std::fflush(out);
    std::vector<uint8_t> frame(65536);
    pollfd p{s, POLLIN, 0};
    size_t count = 0;
    while (poll(&p, 1, seconds * 1000) > 0) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(s, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0)
            return fail(std::string("recv: ") + std::strerror(errno));
        if (from.sll_pkttype == PACKET_OUTGOING) // the interface's own, e.g. router solicitations
            continue;
        put32(out, 0);
        put32(out, 0);
        put32(out, static_cast<uint32_t>(n));
        put32(out, static_cast<uint32_t>(n));
        std::fwrite(frame.data(), 1, static_cast<size_t>(n), out);
        std::fflush(out);
        ++count;
    }
    std::fclose(out);
    std::fprintf(stderr, "vmtool: %zu frames from %s\n", count, ifname);
    return 0;
}

int closeSections(const char* in, const char* out)
{
    std::FILE* f = std::fopen(in, "rb");
    if (f == nullptr)
        return fail(std::string(in) + ": " + std::strerror(errno));
    std::vector<uint8_t> ts;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        ts.insert(ts.end(), chunk, chunk + n);
    std::fclose(f);
    // The continuity counter each PID's next packet carries; -1 for PIDs not seen.
    std::vector<int> next(8192, -1);
    for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const uint8_t* p = &ts[at];
        const unsigned pid = (p[1] & 0x1fu) << 8 | p[2];
        if (p[0] == 0x47 && pid != 0x1fff)
            next[pid] = (p[3] & 0x10) != 0 ? (p[3] + 1) & 0x0f : p[3] & 0x0f;
    }
    for (unsigned pid = 0; pid < 8192; ++pid) {
        if (next[pid] < 0)
            continue;
        uint8_t p[188];
        std::memset(p, 0xff, sizeof p);
        p[0] = 0x47;
        p[1] = static_cast<uint8_t>(0x40 | pid >> 8);
        p[2] = static_cast<uint8_t>(pid);
        p[3] = static_cast<uint8_t>(0x10 | next[pid]);
        p[4] = 0; // pointer field: the section starts at once, and is stuffing
        ts.insert(ts.end(), p, p + sizeof p);
    }
    f = std::fopen(out, "wb");
    if (f == nullptr || std::fwrite(ts.data(), 1, ts.size(), f) != ts.size() || std::fclose(f) != 0)
        return fail(std::string(out) + ": cannot write");
    return 0;
}

std::string fileName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

std::string hex(const teststream::Frame& f, size_t at)
{
    std::string text;
    char byte[4];
    for (size_t i = at; i < f.size() && i < at + 8; ++i) {
        std::snprintf(byte, sizeof byte, "%02x ", f[i]);
        text += byte;
    }
    return text.empty() ? "(end)" : text;
}

// The receiver's frame slot: a datagram of at most 1506 bytes and the Ethernet header.
constexpr size_t kLargestFrame = 1520;

int makeStream(int argc, char** argv)
{
    const uint16_t pid = static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 0));
    unsigned m[6];
    if (std::sscanf(argv[4], "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]) != 6)
        return 2;
    tsgen::MacAddress station{};
    for (int i = 0; i < 6; ++i)
        station[static_cast<size_t>(i)] = static_cast<uint8_t>(m[i]);
    tsgen::MpeStreamWriter writer(pid);
    std::vector<uint8_t> ts;
    for (int i = 5; i < argc; ++i) {
        std::vector<uint8_t> payload(std::strtoul(argv[i], nullptr, 10));
        for (size_t k = 0; k < payload.size(); ++k)
            payload[k] = static_cast<uint8_t>(static_cast<size_t>(i) * 31 + k);
        const std::vector<uint8_t> datagram =
            tsgen::makeUdpDatagram(0x0a000001, 0x0a000002, 4000, 5000, payload.data(), payload.size());
        writer.writeSection(station, datagram.data(), datagram.size(), ts);
    }
    writer.flush(ts);
    std::FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr || std::fwrite(ts.data(), 1, ts.size(), f) != ts.size() || std::fclose(f) != 0)
        return fail(std::string(argv[2]) + ": cannot write");
    return 0;
}

int compare(const char* expectedPath, const char* gotPath, const char* stationText)
{
    unsigned m[6];
    if (std::sscanf(stationText, "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]) != 6)
        return 2;
    std::vector<teststream::Frame> expected, all;
    std::string why;
    if (!teststream::readPcapFrames(expectedPath, &expected, &why) || !teststream::readPcapFrames(gotPath, &all, &why))
        return fail(why);
    const std::string a = fileName(expectedPath), b = fileName(gotPath);
    std::vector<teststream::Frame> got;
    size_t otherStations = 0, oversized = 0;
    for (teststream::Frame& f : all) {
        const bool group = !f.empty() && (f[0] & 1) != 0;
        bool station = f.size() >= 6;
        for (int i = 0; i < 6 && station; ++i)
            station = f[static_cast<size_t>(i)] == m[i];
        if (!group && !station)
            ++otherStations;
        else if (f.size() > kLargestFrame)
            ++oversized;
        else
            got.push_back(std::move(f));
    }
    std::printf("%s: %zu frames, %s: %zu (and %zu for other stations, %zu over 1520 bytes, left out)\n", a.c_str(),
                expected.size(), b.c_str(), got.size(), otherStations, oversized);
    std::fflush(stdout);
    for (size_t i = 0; i < expected.size() && i < got.size(); ++i) {
        if (expected[i] == got[i])
            continue;
        size_t at = 0;
        while (at < expected[i].size() && at < got[i].size() && expected[i][at] == got[i][at])
            ++at;
        return fail("frame " + std::to_string(i + 1) + " differs at byte " + std::to_string(at) + ": " + a + " "
                    + std::to_string(expected[i].size()) + " bytes [" + hex(expected[i], at) + "], " + b + " "
                    + std::to_string(got[i].size()) + " bytes [" + hex(got[i], at) + "]");
    }
    if (expected.size() != got.size())
        return fail(a + " has " + std::to_string(expected.size()) + " frames, " + b + " "
                    + std::to_string(got.size()) + " (the first " + std::to_string(std::min(expected.size(), got.size()))
                    + " equal)");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "props" && argc == 3)
        return props(argv[2]);
    if (command == "net-add" && argc == 5)
        return netAdd(argv[2], argv[3], argv[4]);
    if (command == "capture" && argc == 5)
        return capture(argv[2], argv[3], std::atoi(argv[4]));
    if (command == "close" && argc == 4)
        return closeSections(argv[2], argv[3]);
    if (command == "mkts" && argc >= 6)
        return makeStream(argc, argv);
    if (command == "count" && argc == 3) {
        std::vector<teststream::Frame> frames;
        std::string why;
        if (!teststream::readPcapFrames(argv[2], &frames, &why))
            return fail(why);
        std::printf("%zu\n", frames.size());
        return 0;
    }
    if (command == "compare" && argc == 5)
        return compare(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: vmtool props FRONTEND | net-add NETDEV PID mpe|ule | capture IFNAME FILE SECONDS | "
                         "close IN OUT | mkts OUT PID MAC PAYLOAD... | count FILE | compare EXPECTED GOT STATION\n");
    return 2;
}
