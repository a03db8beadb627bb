// The whole data path: aligner -> processPacket -> decodeMpeBuffer -> adapter,
// on the reference stream written by another project's encoder and on
// generated multi-PID streams.
#include "test_support.h"

#include <fstream>
#include <iterator>
#include <map>
#include <random>

using namespace dt;

namespace {

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class StreamTest : public DecoderTest {
protected:
    void SetUp() override
    {
        DecoderTest::SetUp();
        capture().keepBatches = false;
    }
    void run(const Bytes& stream, size_t firstSample, size_t sampleSize)
    {
        PacketAligner aligner(processPacket);
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t size = std::min(pos == 0 ? firstSample : sampleSize, stream.size() - pos);
            std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
            std::memcpy(copy.get(), stream.data() + pos, size);
            aligner.alignPackets(copy.get(), static_cast<long>(size));
            pos += size;
        }
        packets = aligner.packetsDelivered();
    }
    uint64_t packets = 0;
};

TEST_F(StreamTest, ReferenceStreamGivesIts660FramesInAnySampleSize)
{
    const Bytes stream = readFile(std::string(KEST_TEST_DATA) + "/mpe-udp-pid1001.ts");
    ASSERT_EQ(stream.size(), 1000160u);
    const std::pair<size_t, size_t> sizes[] = {{65424, 65424}, {377, 377},   {1000, 1000}, {4096, 4096},
                                               {1000160, 1},   {564, 1},     {564, 7},     {564, 187},
                                               {564, 188},     {564, 189},   {564, 1500}};
    for (const auto& [first, size] : sizes) {
        SCOPED_TRACE(testing::Message() << first << "/" << size);
        resetDecoder();
        capture().frames.clear();
        assignSlot(1001);
        run(stream, first, size);
        EXPECT_EQ(packets, 5320u);
        ASSERT_EQ(frames().size(), 660u);
        for (const Bytes& f : frames()) {
            ASSERT_EQ(f.size(), 1358u);
            ASSERT_EQ(Bytes(f.begin(), f.begin() + 14),
                      Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00}));
            ASSERT_EQ(f[14], 0x45);
            ASSERT_EQ((f[14 + 20] << 8) | f[14 + 21], 50528); // UDP source port
            ASSERT_EQ((f[14 + 22] << 8) | f[14 + 23], 4000);  // UDP destination port
        }
        EXPECT_EQ(errorCounters(), noErrors());
        EXPECT_EQ(value(g_decoder.pidMpeSections[1001]), 661u);
        EXPECT_EQ(value(g_decoder.pidSelectedPackets[1001]), value(g_decoder.pidPackets[1001]));
    }
}

// Each section of the reference stream starts a packet of its own, the last
// (661st) one is cut off by the end of the file. Cut before that start, the
// stream ends with its 660th section complete: that one must not wait for a
// start that never comes.
TEST_F(StreamTest, ReferenceStreamCutAfterASectionGivesThatSectionToo)
{
    Bytes stream = readFile(std::string(KEST_TEST_DATA) + "/mpe-udp-pid1001.ts");
    ASSERT_EQ(stream.size(), 1000160u);
    const uint8_t* last = stream.data() + stream.size() - 188;
    ASSERT_EQ(((last[1] & 0x1F) << 8) | last[2], 1001);
    ASSERT_TRUE(last[1] & 0x40) << "the last packet starts the 661st section";
    stream.resize(stream.size() - 188);
    for (size_t sampleSize : {size_t(65424), size_t(1)}) {
        SCOPED_TRACE(sampleSize);
        resetDecoder();
        capture().frames.clear();
        assignSlot(1001);
        run(stream, sampleSize, sampleSize);
        EXPECT_EQ(value(g_decoder.pidMpeSections[1001]), 660u);
        EXPECT_EQ(frames().size(), 660u);
        EXPECT_EQ(errorCounters(), noErrors());
    }
}

TEST_F(StreamTest, ReferenceStreamWithoutThePidSelectedSendsNothing)
{
    const Bytes stream = readFile(std::string(KEST_TEST_DATA) + "/mpe-udp-pid1001.ts");
    run(stream, 65424, 65424);
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(value(g_decoder.pidMpeSections[1001]), 661u);
    EXPECT_EQ(errorCounters(), noErrors());
}

// Datagrams carry their PID in the IPv4 identification field and a sequence
// number behind the header, so frames can be told apart per PID.
Bytes taggedDatagram(int pid, uint32_t seq, uint32_t length)
{
    Bytes d = ipv4(length, static_cast<uint8_t>(seq));
    d[4] = static_cast<uint8_t>(pid >> 8);
    d[5] = static_cast<uint8_t>(pid);
    d[20] = static_cast<uint8_t>(seq >> 8);
    d[21] = static_cast<uint8_t>(seq);
    return d;
}

TEST_F(StreamTest, GeneratedMultiPidStreamWithPackedSectionsAndStuffing)
{
    const Mac own{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const Mac multicast{0x01, 0x00, 0x5E, 0x01, 0x02, 0x03};
    const Mac broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Mac other{0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
    setMacFilter(own);
    const int pids[] = {0x100, 0x200, 0x1FF0};
    for (int pid : pids)
        assignSlot(pid);

    std::mt19937 rng(99);
    std::map<int, std::vector<Bytes>> expected;
    std::map<int, std::vector<Bytes>> perPidPackets;
    for (int pid : pids) {
        std::vector<Bytes> sections;
        for (uint32_t seq = 0; seq < 150; ++seq) {
            const Mac* to[] = {&own, &multicast, &broadcast, &other};
            const Mac& mac = seq == 149 ? own : *to[rng() % 4];
            const uint32_t length = 28 + rng() % 1479;
            const Bytes d = taggedDatagram(pid, seq, length);
            SectionOptions o;
            o.llcSnap = rng() % 3 == 0;
            sections.push_back(mpeSection(mac, d, o));
            if (&mac != &other)
                expected[pid].push_back(expectedFrame(mac, 0x0800, d));
            if (rng() % 10 == 0 && seq < 149)
                sections.push_back(Bytes(1 + rng() % 300, 0xFF)); // stuffing: ends the packet's payload
        }
        int cc = static_cast<int>(rng() % 16);
        // Stuffing runs are not sections: packetise them with the sections.
        Bytes stream;
        std::vector<size_t> starts;
        for (const Bytes& s : sections) {
            if (s[0] == 0x3E)
                starts.push_back(stream.size());
            stream.insert(stream.end(), s.begin(), s.end());
        }
        // No closing section start: the last datagram goes on with its last packet.
        perPidPackets[pid] = packetise(pid, stream, starts, cc);
    }
    // A section that starts behind stuffing in the same packet, not at the
    // packet's pointer field, is lost (stuffing runs to the end of the packet):
    // take the expectation from decoding each PID alone.
    for (int pid : pids) {
        resetDecoder();
        setMacFilter(own);
        capture().frames.clear();
        assignSlot(pid);
        feed(perPidPackets[pid]);
        EXPECT_EQ(errorCounters(), noErrors());
        ASSERT_FALSE(frames().empty());
        EXPECT_EQ(frames().back(), expected[pid].back()) << "the last datagram of " << pid;
        expected[pid] = frames();
        ASSERT_GT(expected[pid].size(), 50u);
    }

    // Interleave the three PIDs with null packets and an unselected MPE PID.
    resetDecoder();
    setMacFilter(own);
    capture().frames.clear();
    for (int pid : pids)
        assignSlot(pid);
    Bytes mux;
    std::map<int, size_t> next;
    int nullCc = 0, otherCc = 0;
    const std::vector<Bytes> unselected = packetiseSections(0x300, {mpeSection(own, ipv4(400))}, otherCc);
    bool more = true;
    while (more) {
        more = false;
        for (int pid : pids) {
            if (next[pid] < perPidPackets[pid].size()) {
                const Bytes& p = perPidPackets[pid][next[pid]++];
                mux.insert(mux.end(), p.begin(), p.end());
                more = true;
            }
        }
        PacketFields nullPacket;
        nullPacket.pid = 0x1FFF;
        nullPacket.continuity = nullCc++ & 15;
        const Bytes n = packet(nullPacket);
        mux.insert(mux.end(), n.begin(), n.end());
        const Bytes& u = unselected[static_cast<size_t>(otherCc++) % unselected.size()];
        mux.insert(mux.end(), u.begin(), u.end());
    }
    run(mux, 65424, 65424);
    std::map<int, std::vector<Bytes>> got;
    for (const Bytes& f : frames())
        got[(f[14 + 4] << 8) | f[14 + 5]].push_back(f);
    for (int pid : pids)
        EXPECT_EQ(got[pid], expected[pid]) << pid;
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(value(g_decoder.pidPackets[0x1FFF]), static_cast<uint64_t>(nullCc));
    EXPECT_GT(value(g_decoder.pidMpeSections[0x300]), 0u);
    EXPECT_EQ(value(g_decoder.pidSelectedPackets[0x300]), 0u);
}

TEST_F(StreamTest, ReleasingASlotMidStreamStopsThatPidOnly)
{
    int cc1 = 0, cc2 = 0;
    std::vector<Bytes> a, b;
    for (int i = 0; i < 20; ++i) {
        a.push_back(mpeSection(Mac{}, taggedDatagram(0x101, i, 300)));
        b.push_back(mpeSection(Mac{}, taggedDatagram(0x102, i, 300)));
    }
    const auto pa = packetiseSections(0x101, a, cc1);
    const auto pb = packetiseSections(0x102, b, cc2);
    assignSlot(0x101);
    assignSlot(0x102);
    for (size_t i = 0; i < pa.size(); ++i) {
        if (i == pa.size() / 2)
            releaseSlot(0x101);
        processPacket(pa[i].data());
        processPacket(pb[i].data());
    }
    size_t count101 = 0, count102 = 0;
    for (const Bytes& f : frames())
        ((f[18] << 8 | f[19]) == 0x101 ? count101 : count102)++;
    EXPECT_EQ(count102, 20u);
    EXPECT_GT(count101, 5u);
    EXPECT_LT(count101, 15u);
    EXPECT_EQ(errorCounters(), noErrors());
}

} // namespace
