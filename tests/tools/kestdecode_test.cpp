#include "netns.h"
#include "tests/support/known_stream.h"
#include "tools/tsgen/mpe_stream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
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

std::string tempPath(const char* name) { return testing::TempDir() + "kestdecode_" + name; }

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
// and to broadcast, spread over three PIDs.
struct GeneratedStream {
    std::vector<uint8_t> ts;
    std::map<uint64_t, std::vector<uint8_t>> payloads; // by sequence number
};

const tsgen::MacAddress kStation{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const uint32_t kGroups[2] = {0xEF010101u, 0xEF020202u}; // 239.1.1.1, 239.2.2.2

GeneratedStream generateStream(size_t count)
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
        if (seq % 50 == 0)
            tsgen::writeNullPacket(stream.ts);
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

TEST(Kestdecode, GeneratedStreamThroughPcapIsReadableByTshark)
{
    const GeneratedStream stream = generateStream(10000);
    const std::string ts = writeStream(stream, "mixed.ts");
    const std::string pcap = tempPath("mixed.pcap");
    const RunResult r = runCommand(kKestdecode + " " + kPids + " --mac 02:11:22:33:44:55 --pcap " + pcap + " " + ts);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 10000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TOTAL errors: 0\n"), std::string::npos) << r.out;

    const auto frames = readPcapFrames(pcap);
    ASSERT_EQ(frames.size(), 10000u);
    for (const auto& f : frames) {
        ASSERT_GE(f.size(), 14u + 28u + 8u);
        uint64_t seq = 0;
        for (int k = 0; k < 8; ++k)
            seq = seq << 8 | f[42 + k];
        const auto& expected = stream.payloads.at(seq);
        ASSERT_EQ(f.size(), 42 + expected.size()) << "frame of datagram " << seq;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.begin() + 42)) << "datagram " << seq;
    }

    if (runCommand("command -v tshark").status == 0) {
        const RunResult t = runCommand("tshark -r " + pcap + " -T fields -e udp.dstport 2>/dev/null | grep -c 4000");
        EXPECT_EQ(t.out, "10000\n") << "tshark did not read every frame as UDP";
    } else {
        GTEST_LOG_(WARNING) << "tshark not installed: outside decoding not checked";
    }
    std::remove(ts.c_str());
    std::remove(pcap.c_str());
}

TEST(Kestdecode, EveryDatagramArrivesThroughTapInsideOwnNamespace)
{
    if (!testns::isRoot())
        GTEST_SKIP() << "needs root for a network namespace and a TAP interface";
    const std::string nsName = "kest-decode-" + std::to_string(getpid());
    testns::Namespace ns(nsName, "ktap0");
    if (!ns.ok())
        GTEST_SKIP() << "cannot create a network namespace with a TAP interface here";

    const GeneratedStream stream = generateStream(10000);
    const std::string ts = writeStream(stream, "tap.ts");

    std::atomic<bool> ready{false}, done{false};
    std::map<uint64_t, std::vector<uint8_t>> received;
    std::string receiverError;
    std::thread receiver([&] {
        if (!ns.enter()) {
            receiverError = "cannot enter namespace";
            ready = true;
            return;
        }
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
            req.imr_ifindex = static_cast<int>(if_nametoindex("ktap0"));
            if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) != 0)
                receiverError = "join failed";
        }
        timeval tv{0, 200000};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ready = true;
        std::vector<uint8_t> buf(2048);
        int idle = 0;
        while (idle < 10) {
            const ssize_t n = recv(s, buf.data(), buf.size(), 0);
            if (n < 0) {
                if (done)
                    ++idle;
                continue;
            }
            idle = 0;
            if (n < 8)
                continue;
            uint64_t seq = 0;
            for (int k = 0; k < 8; ++k)
                seq = seq << 8 | buf[k];
            received[seq].assign(buf.begin(), buf.begin() + n);
        }
        close(s);
    });
    while (!ready)
        std::this_thread::yield();
    const RunResult r = runCommand("ip netns exec " + nsName + " " + kKestdecode + " " + kPids
                                   + " --mac 02:11:22:33:44:55 --tap ktap0 " + ts);
    done = true;
    receiver.join();
    ASSERT_TRUE(receiverError.empty()) << receiverError;
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frames: 10000\n"), std::string::npos) << r.out;
    EXPECT_EQ(received.size(), stream.payloads.size()) << "datagrams lost on the way through the TAP interface";
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
