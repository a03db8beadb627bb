#include "netns.h"
#include "tests/support/known_stream.h"
#include "drivers/tsgen/mpe_stream.h"
#include "tests/support/encap_builders.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kKestdecode = std::string(KEST_BIN_DIR) + "/kestdecode";
const std::string kReferenceStream = std::string(KEST_TEST_DATA) + "/mpe-udp-pid1001.ts";

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult runCommand(const std::string& command)
{
    RunResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        result.out.append(chunk, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<teststream::Frame> readPcapFrames(const std::string& path)
{
    std::vector<teststream::Frame> frames;
    std::string why;
    EXPECT_TRUE(teststream::readPcapFrames(path, &frames, &why)) << why;
    return frames;
}

// With the process id: the tests of this program run side by side.
std::string tempPath(const char* name)
{
    return testing::TempDir() + "kestdecode_" + std::to_string(getpid()) + "_" + name;
}

TEST(Kestdecode, ReferenceStreamGivesItsDatagramsAsEthernetFrames)
{
    const std::string pcap = tempPath("reference.pcap");
    const RunResult r = runCommand(kKestdecode + " --pid 1001 --pcap " + pcap + " " + kReferenceStream);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("packets: 5320\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 660\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bytes: " + std::to_string(660 * 1358) + "\n"), std::string::npos) << r.out;
    for (const char* caption : {"Continuity errors: 0", "Scrambled errors: 0", "Pointer field errors: 0",
                                "Mem errors: 0", "Length errors: 0", "CRC errors: 0", "LLC/SNAP errors: 0",
                                "TOTAL errors: 0"})
        EXPECT_NE(r.out.find(std::string(caption) + "\n"), std::string::npos) << "missing " << caption << "\n" << r.out;

    const auto frames = readPcapFrames(pcap);
    ASSERT_EQ(frames.size(), 660u);
    for (const auto& f : frames) {
        ASSERT_EQ(f.size(), 1358u);
        EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 12), std::vector<uint8_t>(12, 0));
        EXPECT_EQ(f[12], 0x08);
        EXPECT_EQ(f[13], 0x00);
        EXPECT_EQ(f[14], 0x45);
    }
    std::remove(pcap.c_str());
}

// Bits flipped on the way (errors the demodulator let through without flagging the
// packet): each damaged section is counted under "CRC errors" and its datagram is not
// delivered; the rest arrive unchanged.
TEST(Kestdecode, DamagedSectionsAreCountedAsCrcErrorsAndNotDelivered)
{
    std::ifstream in(kReferenceStream, std::ios::binary);
    std::vector<uint8_t> ts((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(ts.size() % 188, 0u);
    int damaged = 0;
    for (size_t packet = 500; packet < ts.size() / 188 && damaged < 3; packet += 1500) {
        // The next continuation packet of PID 1001: section data from its 4th byte on.
        while (packet < ts.size() / 188) {
            const uint8_t* p = &ts[packet * 188];
            if ((((p[1] & 0x1F) << 8) | p[2]) == 1001 && !(p[1] & 0x40) && (p[3] & 0x30) == 0x10)
                break;
            ++packet;
        }
        ts[packet * 188 + 100] ^= 0x08;
        ++damaged;
    }
    ASSERT_EQ(damaged, 3);
    const std::string damagedTs = tempPath("damaged.ts");
    std::ofstream(damagedTs, std::ios::binary).write(reinterpret_cast<const char*>(ts.data()),
                                                     static_cast<std::streamsize>(ts.size()));
    const std::string cleanPcap = tempPath("clean.pcap"), damagedPcap = tempPath("damaged.pcap");
    ASSERT_EQ(runCommand(kKestdecode + " --pid 1001 --pcap " + cleanPcap + " " + kReferenceStream).status, 0);
    const std::string metrics = tempPath("damaged.prom");
    const RunResult r =
        runCommand(kKestdecode + " --pid 1001 --metrics " + metrics + " --pcap " + damagedPcap + " " + damagedTs);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 657\n"), std::string::npos) << r.out;
    // The same counts as metrics, labelled with the input.
    std::stringstream text;
    text << std::ifstream(metrics).rdbuf();
    const std::string labels = "{receiver=\"\",card=\"file:" + damagedTs + "\"";
    for (const std::string& line : {"kestipdata_delivered_frames_total" + labels + "} 657\n",
                                    "kestipdata_ts_packets_total" + labels + "} 5320\n",
                                    "kestipdata_decoder_errors_total" + labels + ",kind=\"crc\"} 3\n",
                                    "kestipdata_decoder_errors_total" + labels + ",kind=\"continuity\"} 0\n"})
        EXPECT_NE(text.str().find(line), std::string::npos) << "missing " << line << text.str();
    EXPECT_NE(r.out.find("CRC errors: 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TOTAL errors: 3\n"), std::string::npos) << r.out;
    const auto clean = readPcapFrames(cleanPcap);
    const auto got = readPcapFrames(damagedPcap);
    EXPECT_EQ(got.size(), 657u);
    for (const auto& f : got)
        EXPECT_NE(std::find(clean.begin(), clean.end(), f), clean.end()) << "a damaged datagram was delivered";
    for (const std::string& path : {damagedTs, cleanPcap, damagedPcap, metrics})
        std::remove(path.c_str());
}

TEST(Kestdecode, ReadsStdinAndDecodesTheSameInAnySampleSize)
{
    for (int size : {1, 187, 188, 1000, 65424}) {
        const RunResult r = runCommand(kKestdecode + " --pid 1001 --null --sample-size " + std::to_string(size)
                                       + " - < " + kReferenceStream);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("frames: 660\n"), std::string::npos) << "sample size " << size << "\n" << r.out;
    }
}

TEST(Kestdecode, BadArgumentsGiveUsageAndStatus2)
{
    for (const char* args : {"--bogus", "--pid 8192", "--pid -1", "--pid x", "--mac 00:11:22:33:44",
                             "--mac 00:11:22:33:44:GG", "--sample-size 0", "--pid"}) {
        const RunResult r = runCommand(kKestdecode + " " + args + " --null " + kReferenceStream);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
        EXPECT_NE(r.out.find("usage:"), std::string::npos) << args << "\n" << r.out;
    }
    // The decoder has 15 section slots: a sixteenth PID would silently go undecoded.
    std::string sixteen;
    for (int pid = 1001; pid <= 1016; ++pid)
        sixteen += " --pid " + std::to_string(pid);
    const RunResult r = runCommand(kKestdecode + sixteen + " --null " + kReferenceStream);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("at most 15"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("usage:"), std::string::npos) << r.out;
    std::string mixed;
    for (int pid = 1001; pid <= 1008; ++pid)
        mixed += " --pid " + std::to_string(pid) + " --ule " + std::to_string(pid + 100);
    EXPECT_EQ(runCommand(kKestdecode + mixed + " --null " + kReferenceStream).status, 2) << "16 PIDs with --ule";
    for (const char* args : {"--isi 3", "--udp 127.0.0.1:9", "--bbframe-pid 300", "--gse --isi 256",
                             "--pid 1001 --ule 1001", "--gse --udp 127.0.0.1:9 file"})
        EXPECT_EQ(runCommand(kKestdecode + " " + args + " --null " + kReferenceStream).status, 2) << args;
    // A bad address is a bad argument, found before anything is decoded.
    for (const char* args : {"--gse --udp 1.2.3:99", "--gse --udp 127.0.0.1:65536", "--gse --udp 127.0.0.1"}) {
        const RunResult bad = runCommand(kKestdecode + " " + args);
        EXPECT_EQ(bad.status, 2) << args << "\n" << bad.out;
        EXPECT_NE(bad.out.find("usage:"), std::string::npos) << args << "\n" << bad.out;
        EXPECT_EQ(bad.out.find("packets:"), std::string::npos) << args << ": figures printed\n" << bad.out;
    }
}

TEST(Kestdecode, PidsAreTakenInHexadecimalAfter0x)
{
    // 0x3E9 is 1001, the reference stream's PID; written both ways it is one PID.
    const RunResult r = runCommand(kKestdecode + " --pid 0x3E9 --pid 1001 --null " + kReferenceStream);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 660\n"), std::string::npos) << r.out;
    EXPECT_EQ(runCommand(kKestdecode + " --pid 0x --null " + kReferenceStream).status, 2);
    EXPECT_EQ(runCommand(kKestdecode + " --pid 0x2000 --null " + kReferenceStream).status, 2);
}

TEST(Kestdecode, RepeatedPidTakesOneSlotLeavingRoomForOthers)
{
    std::string repeated;
    for (int i = 0; i < 15; ++i)
        repeated += " --pid 2000";
    const RunResult r = runCommand(kKestdecode + repeated + " --pid 1001 --null " + kReferenceStream);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 660\n"), std::string::npos) << "PID 1001 found no free slot\n" << r.out;
}

TEST(Kestdecode, UnopenableInputOrOutputGivesStatus1NamingTheFile)
{
    RunResult r = runCommand(kKestdecode + " --null /nonexistent/stream.ts");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("/nonexistent/stream.ts"), std::string::npos) << r.out;
    r = runCommand(kKestdecode + " --pcap /nonexistent/dir/out.pcap " + kReferenceStream);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("/nonexistent/dir/out.pcap"), std::string::npos) << r.out;
    // The metrics are written last: a place they cannot go is told before decoding.
    r = runCommand(kKestdecode + " --metrics /nonexistent/dir/m.prom --null " + kReferenceStream);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("cannot write /nonexistent/dir/m.prom"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("packets:"), std::string::npos) << "decoded before the metrics failed\n" << r.out;

    // A directory opens for reading but holds no stream: not an empty success.
    const std::string directory = KEST_TEST_DATA;
    r = runCommand(kKestdecode + " --null " + directory);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(directory + ": it is a directory"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("packets:"), std::string::npos) << "figures printed for a directory\n" << r.out;
    r = runCommand(kKestdecode + " --null - < " + directory);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("standard input: it is a directory"), std::string::npos) << r.out;
}

// Frames the adapter could not write are not a success: the count, the file and the
// reason on one line, status 1; what was written stays a readable capture.
TEST(Kestdecode, FramesLostToAFullDiskAreCountedAndFailTheRun)
{
    struct Case {
        const char* what;
        std::string pcap;
        std::string command;
        const char* reason;
    };
    std::vector<Case> cases;
    // A file-size limit fails the writes just as a full disk does (EFBIG instead of ENOSPC).
    const std::string limited = tempPath("limited.pcap");
    cases.push_back({"file-size limit", limited,
                     "sh -c 'ulimit -f 200; exec " + kKestdecode + " --pid 1001 --pcap " + limited + " "
                         + kReferenceStream + "'",
                     "File too large"});
    const std::string mountPoint = tempPath("small-tmpfs");
    if (testns::isRoot() && testns::run("mkdir -p " + mountPoint) == 0) {
        // A small file system of its own, in a private mount namespace that ends with the command.
        const std::string full = mountPoint + "/out.pcap";
        cases.push_back({"full tmpfs", full,
                         "unshare -m sh -c 'mount -t tmpfs -o size=256k kest " + mountPoint + " && "
                             + kKestdecode + " --pid 1001 --pcap " + full + " " + kReferenceStream
                             + "; status=$?; cp " + full + " " + tempPath("full-copy.pcap") + "; exit $status'",
                         "No space left on device"});
    }
    for (Case& c : cases) {
        const RunResult r = runCommand(c.command);
        EXPECT_EQ(r.status, 1) << c.what << "\n" << r.out;
        const size_t at = r.out.find(" frames lost: pcap file " + c.pcap + " refused them (" + c.reason + ")\n");
        ASSERT_NE(at, std::string::npos) << c.what << "\n" << r.out;
        const size_t lineStart = r.out.rfind('\n', at) + 1;
        EXPECT_EQ(r.out.compare(lineStart, 12, "kestdecode: "), 0) << r.out;
        const unsigned long lost = std::stoul(r.out.substr(lineStart + 12, at - lineStart - 12));
        const size_t framesAt = r.out.find("frames: ");
        ASSERT_NE(framesAt, std::string::npos) << r.out;
        const unsigned long passed = std::stoul(r.out.substr(framesAt + 8));
        EXPECT_GT(lost, 0u) << c.what;
        EXPECT_GT(passed, 0u) << c.what;
        EXPECT_EQ(passed + lost, 660u) << c.what << ": every decoded frame was either written or counted lost";

        const std::string written = c.pcap == limited ? c.pcap : tempPath("full-copy.pcap");
        EXPECT_EQ(readPcapFrames(written).size(), passed) << c.what << ": the capture holds what was written, whole";
        std::remove(written.c_str());
    }
    testns::run("rmdir " + mountPoint + " 2>/dev/null");
}

// A generated stream of mixed datagrams to the station, to joined multicast groups
// and to broadcast, spread over three PIDs; optionally followed by IPv6 datagrams to
// an IPv6 multicast group.
struct GeneratedStream {
    std::vector<uint8_t> ts;
    std::map<uint64_t, std::vector<uint8_t>> payloads; // by sequence number
    // The Ethernet frames the adapter must pass on for the IPv4 datagrams,
    // by sequence number: destination MAC, source 0, type 0x0800, datagram.
    std::map<uint64_t, std::vector<uint8_t>> frames;
};

const tsgen::MacAddress kStation{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const uint32_t kGroups[2] = {0xEF010101u, 0xEF020202u}; // 239.1.1.1, 239.2.2.2
const uint8_t kGroup6[16] = {0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x06}; // ff02::4006
const uint8_t kSource6[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x99};  // fe80::99
const uint16_t kPort6 = 4006;

// An IPv6/UDP datagram from fe80::99 to ff02::4006, port 4006, with its (mandatory)
// UDP checksum.
std::vector<uint8_t> makeUdp6Datagram(const std::vector<uint8_t>& payload)
{
    const size_t udpLength = 8 + payload.size();
    std::vector<uint8_t> d(40 + udpLength, 0);
    d[0] = 0x60;
    d[4] = static_cast<uint8_t>(udpLength >> 8);
    d[5] = static_cast<uint8_t>(udpLength);
    d[6] = 17; // UDP
    d[7] = 1;  // hop limit
    std::memcpy(&d[8], kSource6, 16);
    std::memcpy(&d[24], kGroup6, 16);
    uint8_t* udp = &d[40];
    udp[0] = 40000 >> 8;
    udp[1] = 40000 & 0xFF;
    udp[2] = kPort6 >> 8;
    udp[3] = kPort6 & 0xFF;
    udp[4] = d[4];
    udp[5] = d[5];
    std::memcpy(udp + 8, payload.data(), payload.size());
    uint32_t sum = 17 + static_cast<uint32_t>(udpLength);
    auto add = [&sum](const uint8_t* p, size_t n) {
        for (size_t i = 0; i + 1 < n; i += 2)
            sum += uint32_t(p[i]) << 8 | p[i + 1];
        if (n & 1)
            sum += uint32_t(p[n - 1]) << 8;
    };
    add(&d[8], 32); // source and destination addresses
    add(udp, udpLength);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t check = sum == 0xFFFF ? 0xFFFF : static_cast<uint16_t>(~sum);
    udp[6] = static_cast<uint8_t>(check >> 8);
    udp[7] = static_cast<uint8_t>(check);
    return d;
}

GeneratedStream generateStream(size_t count, size_t ipv6MulticastCount = 0)
{
    GeneratedStream stream;
    std::vector<tsgen::MpeStreamWriter> writers{tsgen::MpeStreamWriter(0x100), tsgen::MpeStreamWriter(0x101),
                                                tsgen::MpeStreamWriter(0x102)};
    std::mt19937 random(7);
    std::uniform_int_distribution<size_t> sizes(64, 1472);
    for (uint64_t seq = 0; seq < count; ++seq) {
        std::vector<uint8_t> payload(sizes(random));
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(random());
        for (int k = 0; k < 8; ++k)
            payload[k] = static_cast<uint8_t>(seq >> (8 * (7 - k)));
        tsgen::MacAddress mac = kStation;
        uint32_t dst = 0x0A000002u;
        switch (seq % 4) {
        case 1:
        case 2: {
            dst = kGroups[seq % 4 - 1];
            mac = {0x01, 0x00, 0x5E, static_cast<uint8_t>((dst >> 16) & 0x7F), static_cast<uint8_t>(dst >> 8),
                   static_cast<uint8_t>(dst)};
            break;
        }
        case 3:
            dst = 0xFFFFFFFFu;
            mac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            break;
        }
        const auto datagram = tsgen::makeUdpDatagram(0x0A000001u, dst, 40000, 4000, payload.data(), payload.size());
        writers[seq % 3].writeSection(mac, datagram.data(), datagram.size(), stream.ts);
        std::vector<uint8_t> frame(mac.begin(), mac.end());
        frame.insert(frame.end(), {0, 0, 0, 0, 0, 0, 0x08, 0x00});
        frame.insert(frame.end(), datagram.begin(), datagram.end());
        stream.frames[seq] = std::move(frame);
        if (seq % 50 == 0)
            tsgen::writeNullPacket(stream.ts);
        stream.payloads[seq] = std::move(payload);
    }
    // IPv6 multicast: destination 33:33 and the group's last four bytes (RFC 2464).
    // Payloads up to 1458 bytes: with the 48 header bytes the largest datagram a frame holds.
    const tsgen::MacAddress group6Mac{0x33, 0x33, kGroup6[12], kGroup6[13], kGroup6[14], kGroup6[15]};
    std::uniform_int_distribution<size_t> sizes6(64, 1458);
    for (uint64_t seq = count; seq < count + ipv6MulticastCount; ++seq) {
        std::vector<uint8_t> payload(sizes6(random));
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(random());
        for (int k = 0; k < 8; ++k)
            payload[k] = static_cast<uint8_t>(seq >> (8 * (7 - k)));
        const auto datagram = makeUdp6Datagram(payload);
        writers[seq % 3].writeSection(group6Mac, datagram.data(), datagram.size(), stream.ts);
        stream.payloads[seq] = std::move(payload);
    }
    const uint8_t closing[28] = {0x45, 0, 0, 28};
    for (auto& w : writers) {
        w.writeSection(tsgen::MacAddress{0x02, 0, 0, 0, 0, 0x99}, closing, sizeof closing, stream.ts);
        w.flush(stream.ts);
    }
    return stream;
}

std::string writeStream(const GeneratedStream& stream, const char* name)
{
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.ts.data()),
                                                static_cast<std::streamsize>(stream.ts.size()));
    return path;
}

const char* kPids = "--pid 256 --pid 257 --pid 258";

// The mixed stream decoded into a pcap file; the stream for the expectations.
struct DecodedToPcap {
    GeneratedStream stream = generateStream(10000);
    std::string ts = writeStream(stream, "mixed.ts");
    std::string pcap = tempPath("mixed.pcap");
    RunResult run = runCommand(kKestdecode + " " + kPids + " --mac 02:11:22:33:44:55 --pcap " + pcap + " " + ts);
    ~DecodedToPcap()
    {
        std::remove(ts.c_str());
        std::remove(pcap.c_str());
    }
};

TEST(Kestdecode, GeneratedStreamThroughPcapGivesEveryFrameWhole)
{
    const DecodedToPcap d;
    ASSERT_EQ(d.run.status, 0) << d.run.out;
    EXPECT_NE(d.run.out.find("frames: 10000\n"), std::string::npos) << d.run.out;
    EXPECT_NE(d.run.out.find("TOTAL errors: 0\n"), std::string::npos) << d.run.out;

    const auto frames = readPcapFrames(d.pcap);
    ASSERT_EQ(frames.size(), 10000u);
    for (const auto& f : frames) {
        ASSERT_GE(f.size(), 14u + 28u + 8u);
        uint64_t seq = 0;
        for (int k = 0; k < 8; ++k)
            seq = seq << 8 | f[42 + k];
        const auto expected = d.stream.frames.find(seq);
        ASSERT_NE(expected, d.stream.frames.end()) << "a frame with no datagram " << seq;
        ASSERT_EQ(f.size(), expected->second.size()) << "frame of datagram " << seq;
        const auto differ = std::mismatch(f.begin(), f.end(), expected->second.begin());
        EXPECT_EQ(differ.first, f.end()) << "frame of datagram " << seq << " differs at byte "
                                          << (differ.first - f.begin());
    }
}

TEST(Kestdecode, GeneratedStreamThroughPcapIsReadableByTshark)
{
    if (runCommand("command -v tshark").status != 0)
        GTEST_SKIP() << "tshark not installed: decoding by another program not checked";
    const DecodedToPcap d;
    ASSERT_EQ(d.run.status, 0) << d.run.out;
    const RunResult t = runCommand("tshark -r " + d.pcap + " -T fields -e udp.dstport 2>/dev/null | grep -c 4000");
    EXPECT_EQ(t.out, "10000\n") << "tshark did not read every frame as UDP";
}

TEST(Kestdecode, EveryDatagramArrivesThroughTapInsideOwnNamespace)
{
    if (!testns::isRoot())
        GTEST_SKIP() << "needs root for a network namespace and a TAP interface";
    const std::string nsName = "kest-decode-" + std::to_string(getpid());
    testns::Namespace ns(nsName, "ktap0");
    if (!ns.ok())
        GTEST_SKIP() << "cannot create a network namespace with a TAP interface here";

    // Behind the IPv4 datagrams, IPv6 ones to a group joined on the TAP interface.
    const GeneratedStream stream = generateStream(10000, 300);
    const std::string ts = writeStream(stream, "tap.ts");

    std::atomic<bool> ready{false}, done{false};
    std::map<uint64_t, std::vector<uint8_t>> received;
    size_t receivedOverIpv6 = 0;
    std::string receiverError;
    std::thread receiver([&] {
        if (!ns.enter()) {
            receiverError = "cannot enter namespace";
            ready = true;
            return;
        }
        const int ifindex = static_cast<int>(if_nametoindex("ktap0"));
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        const int yes = 1, big = 64 << 20;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
        setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(4000);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            receiverError = "bind failed";
        for (uint32_t group : kGroups) {
            ip_mreqn req{};
            req.imr_multiaddr.s_addr = htonl(group);
            req.imr_ifindex = ifindex;
            if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) != 0)
                receiverError = "join failed";
        }
        const int s6 = socket(AF_INET6, SOCK_DGRAM, 0);
        setsockopt(s6, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        setsockopt(s6, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
        sockaddr_in6 addr6{};
        addr6.sin6_family = AF_INET6;
        addr6.sin6_port = htons(kPort6);
        addr6.sin6_addr = in6addr_any;
        if (s6 < 0 || bind(s6, reinterpret_cast<sockaddr*>(&addr6), sizeof addr6) != 0)
            receiverError = "IPv6 socket or bind failed";
        ipv6_mreq req6{};
        std::memcpy(&req6.ipv6mr_multiaddr, kGroup6, 16);
        req6.ipv6mr_interface = static_cast<unsigned>(ifindex);
        if (setsockopt(s6, IPPROTO_IPV6, IPV6_JOIN_GROUP, &req6, sizeof req6) != 0)
            receiverError = "IPv6 join failed";
        ready = true;
        std::vector<uint8_t> buf(2048);
        int idle = 0;
        while (idle < 10) {
            pollfd fds[2] = {{s, POLLIN, 0}, {s6, POLLIN, 0}};
            if (poll(fds, 2, 200) <= 0) {
                if (done)
                    ++idle;
                continue;
            }
            idle = 0;
            for (const pollfd& f : fds) {
                if (!(f.revents & POLLIN))
                    continue;
                const ssize_t n = recv(f.fd, buf.data(), buf.size(), 0);
                if (n < 8)
                    continue;
                uint64_t seq = 0;
                for (int k = 0; k < 8; ++k)
                    seq = seq << 8 | buf[k];
                received[seq].assign(buf.begin(), buf.begin() + n);
                receivedOverIpv6 += f.fd == s6;
            }
        }
        close(s);
        close(s6);
    });
    while (!ready)
        std::this_thread::yield();
    const RunResult r = runCommand("ip netns exec " + nsName + " " + kKestdecode + " " + kPids
                                   + " --mac 02:11:22:33:44:55 --tap ktap0 " + ts);
    done = true;
    receiver.join();
    ASSERT_TRUE(receiverError.empty()) << receiverError;
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 10300\n"), std::string::npos) << r.out;
    EXPECT_EQ(received.size(), stream.payloads.size()) << "datagrams lost on the way through the TAP interface";
    EXPECT_EQ(receivedOverIpv6, 300u) << "IPv6 multicast datagrams (to 33:33:00:00:40:06) not delivered";

    size_t mismatched = 0;
    for (const auto& [seq, payload] : stream.payloads) {
        auto it = received.find(seq);
        if (it != received.end() && it->second != payload)
            ++mismatched;
    }
    EXPECT_EQ(mismatched, 0u) << "datagrams changed on the way";
    std::remove(ts.c_str());
}

// The TAP interface deleted while frames flow: the rest are lost, and the run says so.
TEST(Kestdecode, FramesLostToAVanishedTapInterfaceFailTheRun)
{
    if (!testns::isRoot())
        GTEST_SKIP() << "needs root for a network namespace and a TAP interface";
    const std::string nsName = "kest-gone-" + std::to_string(getpid());
    testns::Namespace ns(nsName, "ktap0");
    if (!ns.ok())
        GTEST_SKIP() << "cannot create a network namespace with a TAP interface here";

    const GeneratedStream stream = generateStream(4000);
    const size_t half = stream.ts.size() / 188 / 2 * 188;
    const std::string first = tempPath("gone-first.ts"), second = tempPath("gone-second.ts");
    std::ofstream(first, std::ios::binary).write(reinterpret_cast<const char*>(stream.ts.data()), half);
    std::ofstream(second, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.ts.data() + half), static_cast<std::streamsize>(stream.ts.size() - half));
    const RunResult r = runCommand("ip netns exec " + nsName + " sh -c '(cat " + first
                                   + "; sleep 1; ip link del ktap0; cat " + second + ") | " + kKestdecode + " " + kPids
                                   + " --mac 02:11:22:33:44:55 --tap ktap0 -'");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" frames lost: TAP interface ktap0 refused them ("), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("frames: 4000\n"), std::string::npos) << "nothing was lost?\n" << r.out;
    std::remove(first.c_str());
    std::remove(second.c_str());
}

} // namespace

namespace {

// Baseband frames of GSE: complete PDUs with each label type, a PDU in three
// fragments across frames, padding, and a frame of another input stream;
// with the frames the adapter must receive from them.
struct GseCase {
    std::vector<encap::Bytes> bbFrames;
    std::vector<teststream::Frame> expected;
};

GseCase makeGseCase()
{
    const encap::Bytes own{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    GseCase c;
    for (int i = 0; i < 12; ++i) {
        const encap::Bytes unicast = encap::ipv4To(0x0A000001, 200 + 90 * i, static_cast<uint8_t>(i));
        const encap::Bytes group = encap::ipv4To(0xE0000105, 64 + i, static_cast<uint8_t>(i + 50));
        const encap::Bytes big = encap::ipv6To(0xFF, 0x0000ABCD, 1200, static_cast<uint8_t>(i + 90));
        const auto parts = encap::gseFragments(static_cast<uint8_t>(i), encap::Label6, 0x86DD, own, big, {400, 500});
        encap::Bytes field = encap::gseComplete(encap::Label6, 0x0800, own, unicast);
        encap::append(field, encap::gseComplete(encap::Broadcast, 0x0800, {}, group));
        encap::append(field, parts[0]);
        c.bbFrames.push_back(encap::bbFrame(encap::kGsSingle, 0, field, 40));
        encap::Bytes next = parts[1];
        encap::append(next, encap::Bytes(30, 0x00)); // padding inside the data field
        c.bbFrames.push_back(encap::bbFrame(encap::kGsSingle, 0, next));
        c.bbFrames.push_back(encap::bbFrame(encap::kGsSingle, 0, parts[2], 7));
        c.expected.push_back(encap::ethernet(own, 0x0800, unicast));
        c.expected.push_back(encap::ethernet({0x01, 0x00, 0x5E, 0x00, 0x01, 0x05}, 0x0800, group));
        c.expected.push_back(encap::ethernet(own, 0x86DD, big)); // its label, not its IP destination
    }
    return c;
}

void expectGseOutcome(const RunResult& r, const std::string& pcap, const GseCase& c)
{
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: " + std::to_string(c.expected.size()) + "\n"), std::string::npos) << r.out;
    for (const char* caption : {"BBFrame errors: 0\n", "GSE errors: 0\n", "ULE errors: 0\n", "TOTAL errors: 0\n"})
        EXPECT_NE(r.out.find(caption), std::string::npos) << "missing " << caption << r.out;
    const auto frames = readPcapFrames(pcap);
    EXPECT_EQ(teststream::differences(c.expected, frames), "");
    std::remove(pcap.c_str());
}

int freeUdpPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

} // namespace

TEST(Kestdecode, GseFromAPseudoTransportStreamFileGivesEveryPdu)
{
    const GseCase c = makeGseCase();
    encap::Bytes ts;
    int cc = 0;
    for (const auto& f : c.bbFrames)
        encap::append(ts, encap::flatten(encap::pseudoTs(0x010E, f, cc)));
    const std::string input = tempPath("gse.ts"), pcap = tempPath("gse-ts.pcap");
    ASSERT_TRUE(teststream::writeFile(input, ts));
    expectGseOutcome(runCommand(kKestdecode + " --gse --mac 00:11:22:33:44:55 --sample-size 1000 --pcap " + pcap + " " + input), pcap, c);
    // Another PID, chosen.
    ts.clear();
    for (const auto& f : c.bbFrames)
        encap::append(ts, encap::flatten(encap::pseudoTs(0x0321, f, cc)));
    ASSERT_TRUE(teststream::writeFile(input, ts));
    expectGseOutcome(runCommand(kKestdecode + " --gse --mac 00:11:22:33:44:55 --bbframe-pid 801 --pcap " + pcap + " " + input), pcap, c);
    std::remove(input.c_str());
}

TEST(Kestdecode, GseFromARawFrameFileGivesEveryPdu)
{
    const GseCase c = makeGseCase();
    encap::Bytes raw;
    for (const auto& f : c.bbFrames)
        encap::append(raw, f);
    // A frame of another input stream, left out with --isi.
    encap::append(raw, encap::bbFrame(encap::kGsMulti, 9,
                                      encap::gseComplete(encap::Broadcast, 0x0800, {}, encap::ipv4To(0x0A000001, 99))));
    const std::string input = tempPath("gse.bb"), pcap = tempPath("gse-raw.pcap");
    ASSERT_TRUE(teststream::writeFile(input, raw));
    expectGseOutcome(runCommand(kKestdecode + " --gse --mac 00:11:22:33:44:55 --isi 4 --sample-size 777 --pcap " + pcap + " < " + input), pcap,
                     c);
    std::remove(input.c_str());
}

TEST(Kestdecode, GseFromUdpRunsUntilSigintThenWritesAndCounts)
{
    const GseCase c = makeGseCase();
    const std::string pcap = tempPath("gse-udp.pcap"), out = tempPath("gse-udp.out");
    const int port = freeUdpPort();
    int errPipe[2];
    ASSERT_EQ(pipe(errPipe), 0);
    const pid_t child = fork();
    if (child == 0) {
        FILE* o = std::freopen(out.c_str(), "w", stdout);
        (void)o;
        dup2(errPipe[1], STDERR_FILENO);
        close(errPipe[0]);
        const std::string where = "127.0.0.1:" + std::to_string(port);
        execl(kKestdecode.c_str(), "kestdecode", "--gse", "--mac", "00:11:22:33:44:55", "--udp", where.c_str(), "--pcap", pcap.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(errPipe[1]);
    std::string err;
    char buffer[256];
    while (err.find("receiving on") == std::string::npos) {
        pollfd p{errPipe[0], POLLIN, 0};
        ASSERT_GT(poll(&p, 1, 10000), 0) << "kestdecode did not start receiving: " << err;
        const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0) << err;
        err.append(buffer, static_cast<size_t>(n));
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const auto& f : c.bbFrames) {
        ASSERT_EQ(sendto(fd, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(f.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the socket buffer is not the subject
    }
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    close(errPipe[0]);
    std::ifstream in(out);
    RunResult r;
    r.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    expectGseOutcome(r, pcap, c);
    std::remove(out.c_str());
}

TEST(Kestdecode, UleStreamGivesEverySnduByteForByte)
{
    const encap::Bytes own{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::vector<encap::Bytes> sndus;
    std::vector<teststream::Frame> expected;
    for (int i = 0; i < 30; ++i) {
        const encap::Bytes d = encap::ipv4To(i % 3 ? 0x0A000001 : 0xEF000001, 40 + 47 * i, static_cast<uint8_t>(i));
        const bool withAddress = i % 2 == 0;
        sndus.push_back(encap::sndu(0x0800, withAddress ? own : encap::Bytes{}, d));
        const encap::Bytes derived = i % 3 ? own : encap::Bytes{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
        expected.push_back(encap::ethernet(withAddress ? own : derived, 0x0800, d));
    }
    sndus.push_back(encap::sndu(0x0800, own, encap::ipv4To(0x0A000001, 100), true)); // CRC-32 broken
    int cc = 3;
    const std::string input = tempPath("ule.ts"), pcap = tempPath("ule.pcap");
    ASSERT_TRUE(teststream::writeFile(input, encap::flatten(encap::uleStream(0x300, sndus, cc))));
    const RunResult r = runCommand(kKestdecode + " --ule 768 --mac 00:11:22:33:44:55 --pcap " + pcap + " " + input);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("TOTAL errors: 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ULE errors: 1\n"), std::string::npos) << "the broken CRC-32\n" << r.out;
    const auto frames = readPcapFrames(pcap);
    EXPECT_EQ(teststream::differences(expected, frames), "");
    std::remove(input.c_str());
    std::remove(pcap.c_str());
}
