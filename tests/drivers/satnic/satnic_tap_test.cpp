// SatNic's TAP backend against the real network stack, as root only (skipped otherwise).
// Each test makes a network namespace of its own (kest-test-PID-N), creates the TAP interface
// inside it with scripts/install-satnic, opens it from a thread that entered the namespace
// (setns), and deletes the namespace afterwards: the host's interfaces are never touched.
#include "drivers/satnic/satnic.h"
#include "drivers/satnic/satnic_internal.h"
#include "drivers/tsgen/mpe_stream.h"
#include "tests/drivers/satnic/allocation_counter.h"
#include "tests/drivers/satnic/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <thread>

using namespace satnic_test;
namespace detail = satnic::detail;

namespace {

const char* kIf = "kt0";
const uint8_t kStation[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const uint8_t kOtherHost[6] = {0x02, 0x99, 0x88, 0x77, 0x66, 0x55};
const uint8_t kGroupMac[6] = {0x01, 0x00, 0x5E, 0x01, 0x02, 0x03};
const uint8_t kBroadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const uint32_t kLocalIp = 0x0AC70001;     // 10.199.0.1/24 on kt0
const uint32_t kSourceIp = 0x0AC70002;    // 10.199.0.2, the far end
const uint32_t kSubnetBcast = 0x0AC700FF; // 10.199.0.255
const uint32_t kGroupIp = 0xEF010203;     // 239.1.2.3
const uint16_t kPort = 5000;

enum class Kind { Station, Group, Broadcast, OtherHost };

int run(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint16_t checksum(const uint8_t* data, size_t length, uint32_t sum = 0)
{
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (length & 1)
        sum += uint32_t(data[length - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, uint16_t(v >> 16));
    put16(p + 2, uint16_t(v));
}

// An Ethernet II frame (zero source, as the decoder builds it) of an IPv4 UDP datagram,
// its UDP checksum filled in, since the receiving socket checks it.
Bytes udpFrame(const uint8_t* destinationMac, uint32_t destinationIp, uint16_t destinationPort, const Bytes& payload)
{
    const Bytes datagram
        = tsgen::makeUdpDatagram(kSourceIp, destinationIp, 4000, destinationPort, payload.data(), payload.size());
    Bytes f(14 + datagram.size(), 0);
    std::memcpy(f.data(), destinationMac, 6);
    f[12] = 0x08;
    std::memcpy(f.data() + 14, datagram.data(), datagram.size());
    const uint8_t* ip = f.data() + 14;
    uint8_t* udp = f.data() + 14 + 20;
    const size_t udpLength = datagram.size() - 20;
    uint8_t pseudo[12];
    std::memcpy(pseudo, ip + 12, 8);
    pseudo[8] = 0;
    pseudo[9] = 17;
    put16(pseudo + 10, uint16_t(udpLength));
    uint32_t sum = 0;
    for (int i = 0; i < 12; i += 2)
        sum += uint32_t(pseudo[i]) << 8 | pseudo[i + 1];
    const uint16_t c = checksum(udp, udpLength, sum);
    put16(udp + 6, c == 0 ? 0xFFFF : c);
    return f;
}

struct Datagram {
    Kind kind;
    Bytes payload;
    Bytes frame;
};

Datagram makeDatagram(uint32_t sequence, Kind kind, size_t payloadSize, std::mt19937& rng)
{
    Datagram d{kind, Bytes(payloadSize), {}};
    for (auto& b : d.payload)
        b = static_cast<uint8_t>(rng());
    put32(d.payload.data(), sequence);
    switch (kind) {
    case Kind::Station:
        d.frame = udpFrame(kStation, kLocalIp, kPort, d.payload);
        break;
    case Kind::Group:
        d.frame = udpFrame(kGroupMac, kGroupIp, kPort, d.payload);
        break;
    case Kind::Broadcast:
        d.frame = udpFrame(kBroadcast, kSubnetBcast, kPort, d.payload);
        break;
    case Kind::OtherHost: // for some other receiver on the link: the stack must not take it
        d.frame = udpFrame(kOtherHost, kLocalIp, kPort, d.payload);
        break;
    }
    return d;
}

uint32_t sequenceOf(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

class SatNicTap : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: creates a network namespace and a TAP interface in it";
        static int serial = 0;
        ns_ = "kest-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        if (run("ip netns add " + ns_) != 0)
            GTEST_SKIP() << "cannot create a network namespace here (ip netns add failed)";
        created_ = true;
        nsFd_ = ::open(("/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(nsFd_, 0);
        // The installation script makes the interface, as a user would, inside the namespace.
        ASSERT_EQ(run(exec(std::string(KEST_SOURCE_DIR) + "/scripts/install-satnic " + kIf + " root")), 0);
        ASSERT_EQ(run(exec("ip link set lo up")), 0);
        ASSERT_EQ(run(exec("ip addr add 10.199.0.1/24 dev kt0")), 0);
        const Bytes inf = readFile(std::string(KEST_SOURCE_DIR) + "/SatNicDrv/SatNic.inf");
        ownMac_ = 0x00C2B03003E0ull; // the placeholder of SatNic.inf, unless stamped
        const std::string text(inf.begin(), inf.end());
        const size_t at = text.find("NetworkAddress, 0, \"");
        if (at != std::string::npos) {
            unsigned b[6];
            if (std::sscanf(text.c_str() + at + 20, "%2x-%2x-%2x-%2x-%2x-%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5])
                == 6) {
                ownMac_ = 0;
                for (unsigned x : b)
                    ownMac_ = ownMac_ << 8 | x;
            }
        }
    }

    void TearDown() override
    {
        satnic::uninstall();
        if (socket_ >= 0)
            ::close(socket_);
        if (nsFd_ >= 0)
            ::close(nsFd_);
        if (created_) {
            EXPECT_EQ(run("ip netns del " + ns_), 0);
        }
    }

    std::string exec(const std::string& command) const { return "ip netns exec " + ns_ + " " + command; }

    // Runs `fn` on a thread inside the namespace: interfaces and sockets made there are the
    // namespace's; the descriptors stay usable from any thread.
    void inNamespace(const std::function<void()>& fn)
    {
        std::thread t([&] {
            ASSERT_EQ(::setns(nsFd_, CLONE_NEWNET), 0) << std::strerror(errno);
            fn();
        });
        t.join();
    }

    // Installs tap:kt0 from inside the namespace, opens the adapter, tells it the station
    // address, and makes the receiving socket (port 5000, joined to 239.1.2.3 on kt0).
    void bringUp()
    {
        std::string error;
        bool ok = false;
        inNamespace([&] {
            ok = satnic::install(std::string("tap:") + kIf, &error);
            socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            // Room for every datagram of a test even if the receiving thread gets no CPU (ctest -j).
            const int size = 256 << 20;
            ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(kPort);
            local.sin_addr.s_addr = htonl(INADDR_ANY);
            ASSERT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
            ip_mreq group{};
            group.imr_multiaddr.s_addr = htonl(kGroupIp);
            group.imr_interface.s_addr = htonl(kLocalIp);
            ASSERT_EQ(::setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group), 0);
        });
        ASSERT_TRUE(ok) << error;
        handle_ = openAdapter();
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
        uint8_t address[6];
        std::memcpy(address, kStation, 6);
        ASSERT_TRUE(setStation(handle_, address));
    }

    void closeAdapter()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    // Receives until `expected` datagrams came or nothing came for `quiet`.
    std::map<uint32_t, Bytes> receive(size_t expected, std::chrono::milliseconds quiet, size_t* duplicates)
    {
        std::map<uint32_t, Bytes> got;
        *duplicates = 0;
        std::vector<uint8_t> buffer(65536);
        while (got.size() < expected) {
            pollfd p{socket_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
                break;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(socket_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                                         &fromLength);
            if (n < 4)
                continue;
            EXPECT_EQ(ntohl(from.sin_addr.s_addr), kSourceIp);
            EXPECT_EQ(ntohs(from.sin_port), 4000);
            const uint32_t sequence = sequenceOf(buffer.data());
            if (!got.emplace(sequence, Bytes(buffer.begin(), buffer.begin() + n)).second)
                ++*duplicates;
        }
        return got;
    }

    std::string ns_;
    bool created_ = false;
    int nsFd_ = -1;
    int socket_ = -1;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    detail::Mac ownMac_ = 0;
};

// Mixed sizes and destinations in batches of 1 to 16 frames: every datagram for this host
// (station unicast rewritten to the interface's address, multicast group, broadcast)
// arrives byte for byte, once; the ones for another host on the link do not.
TEST_F(SatNicTap, DatagramsArriveByteForByte)
{
    bringUp();
    std::mt19937 rng(12345);
    constexpr uint32_t kCount = 4000;
    std::vector<Datagram> datagrams;
    const Kind kinds[] = {Kind::Station, Kind::Group, Kind::Broadcast, Kind::Station, Kind::OtherHost};
    for (uint32_t i = 0; i < kCount; ++i) {
        const size_t size = i < 4 ? (i % 2 ? 1472 : 8) : 8 + rng() % (1472 - 8 + 1);
        datagrams.push_back(makeDatagram(i, kinds[i % 5], size, rng));
    }
    size_t expected = 0;
    uint64_t frameBytes = 0;
    for (const auto& d : datagrams) {
        expected += d.kind != Kind::OtherHost;
        frameBytes += d.frame.size();
    }

    std::map<uint32_t, Bytes> got;
    size_t duplicates = 0;
    std::thread receiver([&] { got = receive(expected, std::chrono::milliseconds(3000), &duplicates); });
    size_t next = 0;
    while (next < datagrams.size()) {
        Batch batch;
        const size_t n = std::min<size_t>(1 + rng() % 16, datagrams.size() - next);
        for (size_t i = 0; i < n; ++i)
            batch.put(i, datagrams[next + i].frame);
        batch.setCount(static_cast<uint32_t>(n));
        ASSERT_TRUE(send(handle_, batch));
        next += n;
    }
    receiver.join();

    EXPECT_EQ(duplicates, 0u);
    EXPECT_EQ(got.size(), expected);
    size_t wrong = 0, missing = 0, stray = 0;
    for (uint32_t i = 0; i < kCount; ++i) {
        const auto it = got.find(i);
        if (datagrams[i].kind == Kind::OtherHost) {
            stray += it != got.end();
        } else if (it == got.end()) {
            ++missing;
        } else if (it->second != datagrams[i].payload) {
            ++wrong;
        }
    }
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(stray, 0u) << "frames for another host's address were taken by the stack";
    EXPECT_EQ(byteCount(handle_), static_cast<uint32_t>(frameBytes));
    const detail::Statistics stats = detail::statistics();
    EXPECT_EQ(stats.framesPassed, uint64_t(kCount));
    EXPECT_EQ(stats.framesDropped, 0u);
    closeAdapter();
}

// A full-size stream as fast as the adapter takes it: nothing lost. Prints the rate.
TEST_F(SatNicTap, HighRateNothingLost)
{
    bringUp();
    std::mt19937 rng(777);
    constexpr uint32_t kCount = 50000;
    Datagram templ = makeDatagram(0, Kind::Station, 1400, rng);
    std::atomic<size_t> received{0};
    size_t wrong = 0;
    std::thread receiver([&] {
        std::vector<uint8_t> buffer(2048);
        std::vector<bool> seen(kCount, false);
        while (received < kCount) {
            pollfd p{socket_, POLLIN, 0};
            if (::poll(&p, 1, 3000) <= 0)
                break;
            const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
            const uint32_t sequence = n >= 4 ? sequenceOf(buffer.data()) : kCount;
            if (n != 1400 || sequence >= kCount || seen[sequence]
                || std::memcmp(buffer.data() + 4, templ.payload.data() + 4, 1396) != 0) {
                ++wrong;
                continue;
            }
            seen[sequence] = true;
            ++received;
        }
    });
    // One frame whose sequence number is rewritten in place; its UDP checksum is 0 (none,
    // valid for IPv4) so that the frame stays valid without recomputing it.
    Batch batch;
    batch.put(0, templ.frame);
    batch.setCount(1);
    uint8_t* frame = batch.bytes.data();
    put16(frame + 14 + 20 + 6, 0);
    const long allocationsBefore = allocationsOnThisThread();
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < kCount; ++i) {
        put32(frame + 14 + 20 + 8, i);
        ASSERT_TRUE(send(handle_, batch));
    }
    if (allocationCounting()) {
        EXPECT_EQ(allocationsOnThisThread() - allocationsBefore, 0) << "the per-frame path allocates";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    receiver.join();
    const double megabits = double(kCount) * 1442 * 8 / 1e6;
    std::printf("[ rate     ] %u frames of 1442 bytes in %.3f s: %.0f Mbit/s of frames, %.0f frames/s\n", kCount,
                seconds, megabits / seconds, kCount / seconds);
    EXPECT_EQ(received.load(), size_t(kCount));
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(detail::statistics().framesDropped, 0u);
    closeAdapter();
}

// While the interface is down every write fails (EIO): the frames are dropped at once, the
// requests still succeed, the count stays; once it is up again frames pass.
TEST_F(SatNicTap, InterfaceDownDropsFramesAndRecovers)
{
    bringUp();
    std::mt19937 rng(3);
    Datagram first = makeDatagram(1, Kind::Station, 100, rng);
    ASSERT_TRUE(sendOne(handle_, first.frame));
    size_t duplicates = 0;
    ASSERT_EQ(receive(1, std::chrono::milliseconds(2000), &duplicates).size(), 1u);
    const uint32_t countBefore = byteCount(handle_);

    ASSERT_EQ(run(exec("ip link set kt0 down")), 0);
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < 200; ++i)
        ASSERT_TRUE(sendOne(handle_, makeDatagram(100 + i, Kind::Station, 100, rng).frame));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(1)) << "writes to a down interface must not block";
    EXPECT_EQ(byteCount(handle_), countBefore);
    EXPECT_EQ(detail::statistics().framesDropped, 200u);

    ASSERT_EQ(run(exec("ip link set kt0 up")), 0);
    std::vector<Datagram> after;
    for (uint32_t i = 0; i < 50; ++i) {
        after.push_back(makeDatagram(1000 + i, i % 2 ? Kind::Group : Kind::Station, 200 + i, rng));
        ASSERT_TRUE(sendOne(handle_, after.back().frame));
    }
    const auto got = receive(50, std::chrono::milliseconds(2000), &duplicates);
    ASSERT_EQ(got.size(), 50u);
    for (const auto& d : after)
        EXPECT_EQ(got.at(sequenceOf(d.payload.data())), d.payload);
    EXPECT_EQ(got.count(100), 0u);
    closeAdapter();
}

// What the kernel transmits on the interface is read and thrown away, so its queue never
// overflows: 3000 datagrams sent out through kt0 by a socket in the namespace all reach the
// driver's reader and none is dropped by the interface.
TEST_F(SatNicTap, KernelTrafficIsReadAndDiscarded)
{
    bringUp();
    ASSERT_EQ(run(exec("ip neigh replace 10.199.0.2 lladdr 02:00:00:00:00:02 dev kt0")), 0);
    const auto txDropped = [&] {
        FILE* f = ::popen(exec("cat /sys/class/net/kt0/statistics/tx_dropped").c_str(), "r");
        unsigned long long n = ~0ull;
        if (f) {
            if (std::fscanf(f, "%llu", &n) != 1)
                n = ~0ull;
            ::pclose(f);
        }
        return n;
    };
    const unsigned long long droppedBefore = txDropped();
    ASSERT_NE(droppedBefore, ~0ull);
    int out = -1;
    inNamespace([&] { out = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    ASSERT_GE(out, 0);
    sockaddr_in far{};
    far.sin_family = AF_INET;
    far.sin_port = htons(9);
    far.sin_addr.s_addr = htonl(kSourceIp);
    const uint64_t discardedBefore = detail::statistics().kernelFramesDiscarded;
    char payload[512] = {};
    for (int burst = 0; burst < 15; ++burst) {
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(::sendto(out, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&far), sizeof far),
                      ssize_t(sizeof payload));
        // The queue (1000 frames) holds a burst; the reader empties it before the next.
        const uint64_t target = discardedBefore + 200u * (burst + 1);
        for (int wait = 0; wait < 300 && detail::statistics().kernelFramesDiscarded < target; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(out);
    EXPECT_GE(detail::statistics().kernelFramesDiscarded, discardedBefore + 3000);
    EXPECT_EQ(txDropped(), droppedBefore);
    closeAdapter();
}

// The driver follows a change of the interface's own address while it runs (refreshed each
// second), so unicast frames for the station keep being accepted.
TEST_F(SatNicTap, FollowsAChangeOfTheInterfaceAddress)
{
    bringUp();
    platform::DebugCapture debug;
    ASSERT_EQ(run(exec("ip link set kt0 address 02:c2:b0:30:03:e1")), 0);
    // The reader thread tells when it has taken the new address.
    const std::string taken = "SatNic: TAP interface kt0 now has address 02:c2:b0:30:03:e1\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (debug.all().find(taken) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(debug.all().find(taken), std::string::npos) << "no refresh took the new address: " << debug.all();
    std::mt19937 rng(5);
    std::vector<Datagram> sent;
    for (uint32_t i = 0; i < 20; ++i) {
        sent.push_back(makeDatagram(i, Kind::Station, 300, rng));
        ASSERT_TRUE(sendOne(handle_, sent.back().frame));
    }
    size_t duplicates = 0;
    const auto got = receive(20, std::chrono::milliseconds(2000), &duplicates);
    EXPECT_EQ(got.size(), 20u);
    closeAdapter();
}

// Opening fails with a line naming the interface: missing, not a TAP, in use elsewhere.
TEST_F(SatNicTap, OpenFailuresNameTheInterface)
{
    std::string missing, notTap, busy;
    bool missingOk = true, notTapOk = true, busyOk = true;
    inNamespace([&] {
        missingOk = satnic::install("tap:kt9", &missing);
        notTapOk = satnic::install("tap:lo", &notTap);
        const int other = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ASSERT_GE(other, 0);
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, kIf);
        ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
        ASSERT_EQ(::ioctl(other, TUNSETIFF, &ifr), 0);
        busyOk = satnic::install(std::string("tap:") + kIf, &busy);
        ::close(other);
    });
    EXPECT_FALSE(missingOk);
    EXPECT_NE(missing.find("TAP interface kt9: no such interface"), std::string::npos) << missing;
    EXPECT_EQ(run(exec("ip link show kt9")), 1) << "the attempt must not create the interface";
    EXPECT_FALSE(notTapOk);
    EXPECT_NE(notTap.find("TAP interface lo: not a TAP interface"), std::string::npos) << notTap;
    EXPECT_FALSE(busyOk);
    EXPECT_NE(busy.find("TAP interface kt0: in use by another program"), std::string::npos) << busy;
    EXPECT_EQ(openAdapter(), INVALID_HANDLE_VALUE);
}

// The interface's own address comes from SatNic.inf through the installation script.
TEST_F(SatNicTap, ScriptGaveTheInterfaceTheInfAddress)
{
    FILE* f = ::popen(exec("cat /sys/class/net/kt0/address /proc/sys/net/ipv4/conf/kt0/rp_filter "
                           "/sys/class/net/kt0/flags")
                          .c_str(),
                      "r");
    ASSERT_NE(f, nullptr);
    char address[32] = {};
    int rpFilter = -1;
    unsigned flags = 0;
    ASSERT_EQ(std::fscanf(f, "%31s %d %x", address, &rpFilter, &flags), 3);
    ::pclose(f);
    EXPECT_EQ(address, detail::formatMac(ownMac_));
    EXPECT_EQ(rpFilter, 0);
    EXPECT_TRUE(flags & IFF_UP);
}

} // namespace
