// the packet aligner (sync search, slicing, carry, resync) and the
// recovery from byte slips. Every sample is an exact-size heap
// copy, so AddressSanitizer sees any read past it.
#include "test_support.h"

#include <memory>
#include <random>

using namespace dt;

namespace {

std::vector<Bytes> g_seen;
const uint8_t* g_expectedBuffer = nullptr; // the aligner's packetBuffer
const uint8_t* g_sampleBegin = nullptr;
const uint8_t* g_sampleEnd = nullptr;
bool g_bufferMismatch = false;

void collect(const uint8_t* packet)
{
    const bool inSample = packet >= g_sampleBegin && packet + 188 <= g_sampleEnd;
    if (g_expectedBuffer != nullptr && packet != g_expectedBuffer && !inSample)
        g_bufferMismatch = true;
    g_seen.emplace_back(packet, packet + 188);
}

// Packet i of a test stream: sync byte, an index in bytes 4..7 and a pattern
// without any 0x47 elsewhere, so no false sync can be found in it.
Bytes testPacket(uint32_t i)
{
    Bytes p(188);
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(0x01 + (i % 8));
    p[2] = static_cast<uint8_t>(i);
    if (p[2] == 0x47)
        p[2] = 0x48;
    p[3] = static_cast<uint8_t>(0x10 | (i & 0x0F));
    for (int k = 0; k < 4; ++k)
        p[4 + k] = static_cast<uint8_t>(0x80 | ((i >> (7 * k)) & 0x7F));
    for (size_t j = 8; j < 188; ++j) {
        uint8_t b = static_cast<uint8_t>(i * 7 + j * 13);
        p[j] = b == 0x47 ? 0x46 : b;
    }
    return p;
}

std::vector<Bytes> testPackets(uint32_t first, uint32_t count)
{
    std::vector<Bytes> v;
    for (uint32_t i = 0; i < count; ++i)
        v.push_back(testPacket(first + i));
    return v;
}

// Packets as their indices (readable failures): i for an intact testPacket(i),
// 1000000 + i for a packet whose index reads i but whose bytes differ, -1 for
// anything else.
std::vector<long> ids(const std::vector<Bytes>& packets)
{
    std::vector<long> v;
    for (const Bytes& p : packets) {
        long i = 0;
        bool ok = p.size() == 188;
        for (int k = 0; ok && k < 4; ++k) {
            ok = (p[4 + k] & 0x80) != 0;
            i |= long(p[4 + k] & 0x7F) << (7 * k);
        }
        if (!ok)
            v.push_back(-1);
        else
            v.push_back(p == testPacket(static_cast<uint32_t>(i)) ? i : 1000000 + i);
    }
    return v;
}

std::vector<Bytes> allBut(uint32_t n, std::initializer_list<uint32_t> missing)
{
    std::vector<Bytes> v;
    for (uint32_t i = 0; i < n; ++i)
        if (std::find(missing.begin(), missing.end(), i) == missing.end())
            v.push_back(testPacket(i));
    return v;
}

class AlignerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_bufferMismatch = false;
        g_expectedBuffer = aligner.packetBuffer;
    }
    void TearDown() override
    {
        EXPECT_FALSE(g_bufferMismatch) << "the callback must get a whole packet from packetBuffer or the sample";
        g_expectedBuffer = nullptr;
    }

    // One sample: an exact-size heap copy of bytes [offset, offset + length).
    void sample(const Bytes& stream, size_t offset, size_t length)
    {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[length > 0 ? length : 1]);
        if (length > 0)
            std::memcpy(copy.get(), stream.data() + offset, length);
        g_sampleBegin = copy.get();
        g_sampleEnd = copy.get() + length;
        aligner.alignPackets(copy.get(), static_cast<long>(length), collect);
        g_sampleBegin = g_sampleEnd = nullptr;
    }
    void sample(const Bytes& bytes) { sample(bytes, 0, bytes.size()); }
    // The whole stream in samples of `size` bytes (the last may be shorter).
    void chunks(const Bytes& stream, size_t size, size_t from = 0)
    {
        for (size_t pos = from; pos < stream.size(); pos += size)
            sample(stream, pos, std::min(size, stream.size() - pos));
    }

    PacketAligner aligner;
};

TEST_F(AlignerTest, StartsSearchingWithNothingCarried)
{
    EXPECT_EQ(aligner.searchingSync, 1);
    EXPECT_EQ(aligner.carryLength, 0);
}

TEST_F(AlignerTest, SearchingSampleOfTenWholePacketsYieldsTenCallbacks)
{
    const auto packets = testPackets(0, 10);
    sample(flatten(packets));
    EXPECT_EQ(ids(g_seen), ids(packets));
    EXPECT_EQ(aligner.searchingSync, 0);
    EXPECT_EQ(aligner.carryLength, 0);
    EXPECT_EQ(aligner.packetsDelivered(), 10u);
}

TEST_F(AlignerTest, StreamInSamplesTooShortToSearchIsSynchronisedAcrossThem)
{
    Bytes stream(100, 0x00); // starts off the packet boundary
    const auto packets = testPackets(0, 12);
    const Bytes body = flatten(packets);
    stream.insert(stream.end(), body.begin(), body.end());
    for (size_t size : {1u, 2u, 50u, 187u, 188u, 189u, 300u, 376u}) {
        SCOPED_TRACE(testing::Message() << "sample size " << size);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        aligner.resync(); // as after a tuning
        sample(stream, 0, size);
        EXPECT_TRUE(g_seen.empty()) << "one short sample alone yields nothing";
        EXPECT_EQ(aligner.searchingSync, 1);
        chunks(stream, size, size);
        EXPECT_EQ(ids(g_seen), ids(packets));
        EXPECT_EQ(aligner.searchingSync, 0);
    }
}

TEST_F(AlignerTest, SampleOf377BytesIsSearchedWithinItself)
{
    const Bytes stream = flatten(testPackets(0, 3));
    // 377 bytes show three syncs at 0: two packets and one byte carried.
    sample(stream, 0, 377);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 2)));
    EXPECT_EQ(aligner.searchingSync, 0);
    EXPECT_EQ(aligner.carryLength, 1);
}

TEST_F(AlignerTest, SynchronisesAtOffset100AndCarriesTheLastPart)
{
    Bytes s(100, 0x00);
    const auto packets = testPackets(0, 6);
    const Bytes body = flatten(packets);
    s.insert(s.end(), body.begin(), body.end() - 88); // the last packet cut after 100 bytes
    sample(s);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 5)));
    EXPECT_EQ(aligner.carryLength, 100);
    EXPECT_EQ(Bytes(aligner.carryBuffer, aligner.carryBuffer + 100), Bytes(packets[5].begin(), packets[5].begin() + 100));
    // The next sample completes it.
    Bytes next(packets[5].begin() + 100, packets[5].end());
    const Bytes more = flatten(testPackets(6, 3));
    next.insert(next.end(), more.begin(), more.end());
    sample(next);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 9)));
}

TEST_F(AlignerTest, CandidateMeetingANon47ByteLaterIsRejected)
{
    // Real packets from offset 10; offset 5 shows 0x47 at 5, 193, 381 but not at 569.
    Bytes s(10, 0x00);
    auto packets = testPackets(0, 6);
    packets[0][183] = 0x47; // 5 + 188 = 193 = 10 + 183
    packets[1][183] = 0x47; // 381
    Bytes body = flatten(packets);
    s[5] = 0x47;
    s.insert(s.end(), body.begin(), body.end());
    sample(s);
    EXPECT_EQ(ids(g_seen), ids(packets));
}

TEST_F(AlignerTest, SearchFailsWhenSomeChunkDoesNotBeginWithTheSyncByte)
{
    // While searching, every 188th byte of the candidate must be 0x47: a packet
    // with a broken sync byte in the sample rejects offset 0 (plain search).
    auto packets = testPackets(0, 5);
    packets[4][0] = 0x00;
    sample(flatten(packets));
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(aligner.searchingSync, 1);
}

TEST_F(AlignerTest, SynchronisedChunkWithoutSyncIsSkippedAndTheRestDelivered)
{
    sample(flatten(testPackets(0, 3)));
    auto packets = testPackets(3, 10);
    packets[4][0] = 0x07;
    sample(flatten(packets));
    std::vector<Bytes> expected = testPackets(0, 3);
    for (size_t i = 0; i < packets.size(); ++i)
        if (i != 4)
            expected.push_back(packets[i]);
    EXPECT_EQ(ids(g_seen), ids(expected));
    EXPECT_EQ(aligner.slipRecoveries(), 0u);
    EXPECT_EQ(aligner.searchingSync, 0);
}

TEST_F(AlignerTest, CarryCompletionThenSlicingAtNeedWhenThreeSyncsAreThere)
{
    const Bytes stream = flatten(testPackets(0, 10));
    sample(stream, 0, 3 * 188 + 100); // ends 100 bytes into packet 3
    EXPECT_EQ(aligner.carryLength, 100);
    sample(stream, 3 * 188 + 100, stream.size() - (3 * 188 + 100)); // first 88 bytes complete it
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 10)));
}

TEST_F(AlignerTest, CarryCompletionThenSlicingAtZeroWithoutThreeSyncsAtNeed)
{
    // The second sample lost the 88 bytes that would complete the carry and
    // begins with whole packets: the completed packet (carry + 88 bytes of the
    // next) is delivered, then slicing goes on at offset 0.
    const auto packets = testPackets(0, 10);
    const Bytes stream = flatten(packets);
    sample(stream, 0, 3 * 188 + 100);
    sample(stream, 4 * 188, 6 * 188);
    ASSERT_EQ(g_seen.size(), 3u + 1 + 6);
    Bytes glued(packets[3].begin(), packets[3].begin() + 100);
    glued.insert(glued.end(), packets[4].begin(), packets[4].begin() + 88);
    EXPECT_TRUE(g_seen[3] == glued);
    EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin() + 4, g_seen.end())), ids(testPackets(4, 6)));
    EXPECT_EQ(aligner.slipRecoveries(), 0u);
}

// Mended: when neither need nor 0 shows three syncs after a carry completion,
// the phase of the carry is kept (plain algorithm: slicing at 0, which would lose
// the whole sample and, with it, the phase).
TEST_F(AlignerTest, CorruptedSyncByteRightAfterACompletedCarryKeepsThePhase)
{
    auto packets = testPackets(0, 20);
    packets[5][0] = 0x00;
    const Bytes stream = flatten(packets);
    sample(stream, 0, 3 * 188 + 100); // carry 100 bytes of P3
    sample(stream, 3 * 188 + 100, stream.size() - (3 * 188 + 100));
    EXPECT_EQ(ids(g_seen), ids(allBut(20, {5})));
    EXPECT_EQ(aligner.slipRecoveries(), 0u);
}

TEST_F(AlignerTest, CarryAcrossSamplesOfEverySizeFrom1To400)
{
    const auto packets = testPackets(0, 60);
    const Bytes stream = flatten(packets);
    for (size_t size = 1; size <= 400; ++size) {
        SCOPED_TRACE(size);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        sample(stream, 0, 3 * 188); // synchronise
        chunks(stream, size, 3 * 188);
        ASSERT_EQ(ids(g_seen), ids(packets));
        ASSERT_EQ(aligner.slipRecoveries(), 0u);
    }
}

TEST_F(AlignerTest, CarryAcrossSamplesOfMixedSizes)
{
    const auto packets = testPackets(0, 400);
    const Bytes stream = flatten(packets);
    std::mt19937 rng(7);
    sample(stream, 0, 400);
    size_t pos = 400;
    while (pos < stream.size()) {
        const size_t size = std::min<size_t>(1 + rng() % 700, stream.size() - pos);
        sample(stream, pos, size);
        pos += size;
    }
    EXPECT_EQ(ids(g_seen), ids(packets));
}

TEST_F(AlignerTest, ShortSamplesAccumulateTheCarryWithoutReadingPastThem)
{
    const Bytes stream = flatten(testPackets(0, 4));
    sample(stream, 0, 2 * 188 + 180); // two packets, 180 bytes carried
    EXPECT_EQ(aligner.carryLength, 180);
    sample(stream, 2 * 188 + 180, 3); // need is 8: 3 bytes only
    EXPECT_EQ(aligner.carryLength, 183);
    EXPECT_EQ(g_seen.size(), 2u);
    sample(stream, 2 * 188 + 183, 5); // completes it exactly
    EXPECT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(aligner.carryLength, 0);
    sample(stream, 3 * 188, 1);
    EXPECT_EQ(aligner.carryLength, 1);
    sample(stream, 3 * 188 + 1, 187);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 4)));
}

TEST_F(AlignerTest, EmptyOrNullSamplesChangeNothing)
{
    aligner.alignPackets(nullptr, 100, collect);
    const uint8_t byte = 0x47;
    aligner.alignPackets(&byte, 0, collect);
    aligner.alignPackets(&byte, -5, collect);
    EXPECT_EQ(aligner.searchingSync, 1);
    EXPECT_EQ(aligner.carryLength, 0);
}

TEST_F(AlignerTest, ResyncDropsTheCarryAndSearchesAgain)
{
    const auto packets = testPackets(0, 10);
    const Bytes stream = flatten(packets);
    sample(stream, 0, 2 * 188 + 100);
    EXPECT_EQ(aligner.carryLength, 100);
    aligner.resync();
    EXPECT_EQ(aligner.carryLength, -1);
    EXPECT_EQ(aligner.searchingSync, 1);
    // The next sample begins with the 88 bytes that would have completed it:
    // the search finds offset 88.
    sample(stream, 2 * 188 + 100, 8 * 188 - 100);
    std::vector<Bytes> expected = testPackets(0, 2);
    const auto rest = testPackets(3, 7);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(ids(g_seen), ids(expected));
    EXPECT_EQ(aligner.searchingSync, 0);
}

TEST_F(AlignerTest, ResyncThroughTheFieldsWorksAsWell)
{
    const Bytes stream = flatten(testPackets(0, 20));
    sample(stream, 0, 3 * 188);
    aligner.carryLength = -1; // what the pin's receive does
    aligner.searchingSync = 1;
    sample(stream, 3 * 188 + 50, 300); // too short for the plain search
    EXPECT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(aligner.searchingSync, 1);
    sample(stream, 3 * 188 + 350, 5 * 188);
    EXPECT_GT(g_seen.size(), 3u);
}

TEST_F(AlignerTest, NullCallbackAdvancesTheStateOnly)
{
    const Bytes stream = flatten(testPackets(0, 5));
    aligner.alignPackets(stream.data(), 3 * 188 + 10, nullptr);
    EXPECT_EQ(aligner.searchingSync, 0);
    EXPECT_EQ(aligner.carryLength, 10);
    EXPECT_EQ(aligner.packetsDelivered(), 3u);
    aligner.setCallback(collect);
    g_sampleBegin = stream.data() + 3 * 188 + 10;
    g_sampleEnd = stream.data() + stream.size();
    aligner.alignPackets(stream.data() + 3 * 188 + 10, 2 * 188 - 10);
    EXPECT_EQ(ids(g_seen), ids(testPackets(3, 2)));
}

// ---- Byte slips ------------------------------------------------------------------

// P0..P(n-1) with `junk` inserted before packet `at`.
Bytes withInsertion(uint32_t n, uint32_t at, size_t junk)
{
    Bytes s;
    for (uint32_t i = 0; i < n; ++i) {
        if (i == at)
            s.insert(s.end(), junk, 0x5A);
        const Bytes p = testPacket(i);
        s.insert(s.end(), p.begin(), p.end());
    }
    return s;
}

// P0..P(n-1) with the first `lost` bytes of packet `at` missing.
Bytes withLoss(uint32_t n, uint32_t at, size_t lost)
{
    Bytes s;
    for (uint32_t i = 0; i < n; ++i) {
        const Bytes p = testPacket(i);
        s.insert(s.end(), p.begin() + (i == at ? lost : 0), p.end());
    }
    return s;
}


TEST_F(AlignerTest, BytesInsertedBetweenPacketsInsideASampleAreRecovered)
{
    for (size_t junk : {1u, 5u, 100u, 187u, 189u, 400u}) {
        SCOPED_TRACE(junk);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        sample(flatten(testPackets(0, 3))); // synchronise on P0..P2
        Bytes rest = withInsertion(40, 10, junk);
        rest.erase(rest.begin(), rest.begin() + 3 * 188);
        sample(rest);
        EXPECT_EQ(ids(g_seen), ids(testPackets(0, 40)));
        EXPECT_EQ(aligner.slipRecoveries(), 1u);
        EXPECT_EQ(aligner.searchingSync, 0);
    }
}

TEST_F(AlignerTest, BytesLostBetweenPacketsInsideASampleAreRecovered)
{
    for (size_t lost : {1u, 7u, 100u, 187u}) {
        SCOPED_TRACE(lost);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        sample(flatten(testPackets(0, 3)));
        Bytes rest = withLoss(40, 10, lost);
        rest.erase(rest.begin(), rest.begin() + 3 * 188);
        sample(rest);
        EXPECT_EQ(ids(g_seen), ids(allBut(40, {10})));
        EXPECT_EQ(aligner.slipRecoveries(), 1u);
    }
}

TEST_F(AlignerTest, SlipAtASampleBoundaryIsRecovered)
{
    // Sample A ends on a packet boundary; sample B begins with inserted bytes.
    const Bytes stream = withInsertion(40, 10, 33);
    sample(stream, 0, 10 * 188);
    sample(stream, 10 * 188, stream.size() - 10 * 188);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 40)));

    // Sample A ends inside a packet; sample B lost bytes at its start.
    aligner = PacketAligner();
    g_expectedBuffer = aligner.packetBuffer;
    g_seen.clear();
    const auto packets = testPackets(0, 40);
    const Bytes clean = flatten(packets);
    sample(clean, 0, 10 * 188 + 60);
    sample(clean, 11 * 188 + 20, clean.size() - (11 * 188 + 20)); // 148 bytes lost
    // The glued packet 10 (60 bytes of P10 and 128 of P11) is delivered; from P12 on all.
    ASSERT_GE(g_seen.size(), 11u);
    EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin(), g_seen.begin() + 10)), ids(testPackets(0, 10)));
    EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin() + 11, g_seen.end())), ids(testPackets(12, 28)));
}

TEST_F(AlignerTest, SlipWithSmallSamplesIsRecoveredAcrossSamples)
{
    for (size_t size : {1u, 7u, 50u, 100u, 187u, 188u, 189u, 300u, 377u}) {
        for (size_t junk : {3u, 150u, 200u}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " junk " << junk);
            aligner = PacketAligner();
            g_expectedBuffer = aligner.packetBuffer;
            g_seen.clear();
            const Bytes stream = withInsertion(60, 20, junk);
            sample(stream, 0, 3 * 188);
            chunks(stream, size, 3 * 188);
            // Everything before the slip, at most two packets lost at it, and
            // every packet after them, in order and intact.
            ASSERT_GE(g_seen.size(), 58u);
            EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin(), g_seen.begin() + 20)), ids(testPackets(0, 20)));
            const size_t tail = g_seen.size() - 20;
            EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin() + 20, g_seen.end())), ids(testPackets(60 - tail, tail)));
            EXPECT_EQ(aligner.searchingSync, 0);
        }
    }
}

TEST_F(AlignerTest, LossWithSmallSamplesIsRecoveredAcrossSamples)
{
    for (size_t size : {1u, 13u, 64u, 188u, 250u}) {
        SCOPED_TRACE(size);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        const Bytes stream = withLoss(60, 20, 77);
        sample(stream, 0, 3 * 188);
        chunks(stream, size, 3 * 188);
        ASSERT_GE(g_seen.size(), 57u);
        EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin(), g_seen.begin() + 20)), ids(testPackets(0, 20)));
        const size_t tail = g_seen.size() - 20;
        EXPECT_EQ(ids(std::vector<Bytes>(g_seen.begin() + 20, g_seen.end())), ids(testPackets(60 - tail, tail)));
    }
}

TEST_F(AlignerTest, ACorruptedSyncByteCostsOnlyThatPacketEvenAtASampleBoundary)
{
    auto packets = testPackets(0, 30);
    packets[10][0] = 0x00;
    const Bytes stream = flatten(packets);
    // Packet 10 is cut by the sample boundary: its carried tail does not begin with 0x47.
    sample(stream, 0, 3 * 188);
    sample(stream, 3 * 188, 7 * 188 + 50);
    sample(stream, 10 * 188 + 50, stream.size() - (10 * 188 + 50));
    EXPECT_EQ(ids(g_seen), ids(allBut(30, {10})));
    EXPECT_EQ(aligner.slipRecoveries(), 0u);

    for (size_t size : {1u, 60u, 188u, 200u}) {
        SCOPED_TRACE(size);
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        sample(stream, 0, 3 * 188);
        chunks(stream, size, 3 * 188);
        EXPECT_EQ(ids(g_seen), ids(allBut(30, {10})));
        EXPECT_EQ(aligner.slipRecoveries(), 0u);
    }
}

TEST_F(AlignerTest, TwoCorruptedSyncBytesInARowSearchAgainAndFindTheSamePhase)
{
    auto packets = testPackets(0, 30);
    packets[10][0] = 0x00;
    packets[11][0] = 0x00;
    sample(flatten(testPackets(0, 3)));
    sample(flatten(packets));
    std::vector<Bytes> expected = testPackets(0, 3);
    const auto rest = allBut(30, {10, 11});
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(ids(g_seen), ids(expected));
    EXPECT_EQ(aligner.slipRecoveries(), 1u);
    EXPECT_EQ(aligner.searchingSync, 0);
}

TEST_F(AlignerTest, PlainSearchFindsTheFirstOffsetWhoseStepsAreAllSyncs)
{
    // While searching, broken sync bytes of packets 10 and 11 reject every
    // offset before packet 12.
    auto packets = testPackets(0, 30);
    packets[10][0] = 0x00;
    packets[11][0] = 0x00;
    sample(flatten(packets));
    EXPECT_EQ(ids(g_seen), ids(testPackets(12, 18)));
}

TEST_F(AlignerTest, RandomSlipsAndSampleSizesNeverReadPastASampleAndRecover)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 40; ++round) {
        aligner = PacketAligner();
        g_expectedBuffer = aligner.packetBuffer;
        g_seen.clear();
        // A stream with a few random slips, the last one before packet 150.
        Bytes stream;
        for (uint32_t i = 0; i < 200; ++i) {
            if (i < 150 && rng() % 40 == 0) {
                if (rng() % 2)
                    stream.insert(stream.end(), 1 + rng() % 300, static_cast<uint8_t>(rng()));
                else if (!stream.empty())
                    stream.resize(stream.size() - std::min<size_t>(stream.size(), 1 + rng() % 187));
            }
            const Bytes p = testPacket(i);
            stream.insert(stream.end(), p.begin(), p.end());
        }
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t size = std::min<size_t>(1 + rng() % (rng() % 2 ? 100 : 2000), stream.size() - pos);
            sample(stream, pos, size);
            pos += size;
        }
        // The last 40 packets come out intact and in order.
        ASSERT_GE(g_seen.size(), 40u) << round;
        EXPECT_EQ(ids(std::vector<Bytes>(g_seen.end() - 40, g_seen.end())), ids(testPackets(160, 40))) << round;
    }
}

} // namespace

namespace {

// The plain search as a model: the first k < length - 376 from which every
// 188th byte to the end of the sample is 0x47.
long modelSearch(const Bytes& s)
{
    for (long k = 0; k < long(s.size()) - 376; ++k) {
        bool all = true;
        for (size_t j = size_t(k); j < s.size() && all; j += 188)
            all = s[j] == 0x47;
        if (all)
            return k;
    }
    return -1;
}

// Where a first search starts slicing shows in what follows it: whole
// packets from there on, the rest carried.
TEST_F(AlignerTest, FirstSearchFindsWhatThePlainSearchFinds)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        // Mostly 0x47 with a few other bytes: the worst case of a search that
        // follows every candidate.
        const size_t size = 377 + rng() % 3000;
        Bytes s(size);
        const unsigned other = 1 + rng() % 60;
        for (size_t i = 0; i < size; ++i)
            s[i] = rng() % 64 < other ? 0x00 : 0x47;
        for (unsigned i = rng() % 4; i > 0; --i)
            s[size - 1 - rng() % 188] = 0x00;
        const long expected = modelSearch(s);
        aligner = PacketAligner();
        aligner.alignPackets(s.data(), static_cast<long>(s.size()), nullptr);
        const long start = expected < 0 ? -1
                                        : long(size) - aligner.carryLength - 188 * long(aligner.packetsDelivered());
        ASSERT_EQ(aligner.searchingSync, expected < 0 ? 1 : 0) << "round " << round;
        ASSERT_EQ(start, expected) << "round " << round << ", " << size << " bytes";
    }
}

} // namespace

namespace {

// Bytes that show no packet boundary, one per sample, are searched across
// samples for as long as they last (the search keeps its untested tail, which
// moves along a fixed buffer); the stream behind them comes out whole.
TEST_F(AlignerTest, LongRunOfOneByteSamplesWithoutSyncThenTheStream)
{
    Bytes stream(9000);
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<uint8_t>(i % 3 == 0 ? 0x47 : i);
    const auto packets = testPackets(0, 20);
    for (const Bytes& p : packets)
        stream.insert(stream.end(), p.begin(), p.end());
    chunks(stream, 1);
    EXPECT_EQ(ids(g_seen), ids(testPackets(0, 20)));
}

} // namespace
