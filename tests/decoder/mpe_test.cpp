// decodeMpeBuffer, the address filter, the flags and LLC/SNAP tests,
// frame building, and the bounds of every read.
#include "test_support.h"

#include <random>

using namespace dt;

namespace {

const Mac kOwn{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Mac kZero{};
const Mac kMulticast{0x01, 0x00, 0x5E, 0x7F, 0x00, 0x01};
const Mac kNotMulticast{0x01, 0x00, 0x5F, 0x00, 0x00, 0x01};
const Mac kIpv6Multicast{0x33, 0x33, 0xFF, 0x00, 0x00, 0x01};
const Mac kBroadcastish{0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56};
const Mac kOther{0x00, 0x11, 0x22, 0x33, 0x44, 0x56};

class MpeTest : public DecoderTest {
protected:
    void decode(const Bytes& buffer)
    {
        const int handle = exactBuffer(buffer);
        decodeMpeBuffer(handle);
        g_decoder.sectionBuffers.freeBuffer(handle);
    }
    int sendRequests() { return capture().sendRequests; }
};

TEST_F(MpeTest, BufferUnder16BytesPrintsTheMessageAndCountsALengthError)
{
    testing::internal::CaptureStdout();
    decode(Bytes(15, 0x3E));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IP/MPE packet length = 15 too small.\n");
    EXPECT_EQ(errorCounters(), onlyError(kLength));
    testing::internal::CaptureStdout();
    decode(Bytes{});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IP/MPE packet length = 0 too small.\n");
    EXPECT_EQ(errorCounters(), onlyError(kLength, 2));
}

TEST_F(MpeTest, SixteenByteRemnantIsALengthErrorLikeItsNeighbours)
{
    const Bytes cut = mpeSection(kZero, ipv4(100));
    testing::internal::CaptureStdout();
    decode(Bytes(cut.begin(), cut.begin() + 16));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "IP/MPE packet length = 16 too small.\n");
    EXPECT_EQ(errorCounters(), onlyError(kLength));
    decode(Bytes(cut.begin(), cut.begin() + 17));
    EXPECT_EQ(errorCounters(), onlyError(kLength, 2));
    EXPECT_EQ(sendRequests(), 0);
}

// Sections are delimited by their own length: one of another table sharing
// the PID (MPE-FEC, 0x78) is passed over silently, an MPE section too short to
// be one is a length error, and the sections behind either are still decoded.
// Stuffing ends the walk.
TEST_F(MpeTest, SectionsThatAreNoUsableMpeSectionArePassedOverByTheirLength)
{
    const Bytes d1 = ipv4(100, 1), d2 = ipv4(120, 2);
    Bytes fec(40, 0x5A);
    fec[0] = 0x78;
    fec[1] = 0xB0;
    fec[2] = 37;
    Bytes tooShort = mpeSection(kZero, ipv4(20));
    tooShort.resize(18);
    tooShort[1] = 0xB0;
    tooShort[2] = 15;
    decode(concat({fec, mpeSection(kZero, d1), tooShort, mpeSection(kZero, d2)}));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d1));
    EXPECT_EQ(frames()[1], expectedFrame(kZero, 0x0800, d2));
    EXPECT_EQ(errorCounters(), onlyError(kLength));

    decode(Bytes(500, 0xFF));
    decode(concat({mpeSection(kZero, d1), Bytes(30, 0xFF), mpeSection(kZero, d2)}));
    EXPECT_EQ(frames().size(), 3u) << "nothing behind stuffing";
    EXPECT_EQ(errorCounters(), onlyError(kLength));
}

TEST_F(MpeTest, SectionFollowedByStuffingSendsOneFrame)
{
    const Bytes d = ipv4(200);
    decode(concat({mpeSection(kZero, d), Bytes(300, 0xFF)}));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(MpeTest, AddressFilterOwnMulticastBroadcastAndOthers)
{
    setMacFilter(kOwn);
    const Bytes d1 = ipv4(100, 1), d2 = ipv4(101, 2), d3 = ipv4(102, 3), d4 = ipv4(103, 4), d5 = ipv4(104, 5);
    const Bytes d6 = ipv6(64, 6);
    const Mac kAlmostBroadcast{0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF};
    const Mac kAlmostIpv6Multicast{0x33, 0x32, 0xFF, 0x00, 0x00, 0x01};
    const Mac kAlmostIpv6Multicast2{0x32, 0x33, 0xFF, 0x00, 0x00, 0x01};
    decode(concat({mpeSection(kOwn, d1), mpeSection(kMulticast, d2), mpeSection(kNotMulticast, d3),
                   mpeSection(kBroadcastish, d4), mpeSection(kOther, d5), mpeSection(kAlmostBroadcast, d5),
                   mpeSection(kZero, d5), mpeSection(kIpv6Multicast, d6), mpeSection(kAlmostIpv6Multicast, d6),
                   mpeSection(kAlmostIpv6Multicast2, d6)}));
    ASSERT_EQ(frames().size(), 4u);
    EXPECT_EQ(frames()[0], expectedFrame(kOwn, 0x0800, d1));
    EXPECT_EQ(Bytes(frames()[0].begin(), frames()[0].begin() + 6), Bytes({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(frames()[1], expectedFrame(kMulticast, 0x0800, d2));
    EXPECT_EQ(frames()[2], expectedFrame(kBroadcastish, 0x0800, d4));
    EXPECT_EQ(frames()[3], expectedFrame(kIpv6Multicast, 0x86DD, d6)) << "IPv6 multicast 33:33:xx:xx:xx:xx";
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(sendRequests(), 4);
}

TEST_F(MpeTest, ZeroFilterPassesOnlyZeroMulticastAndBroadcast)
{
    const Bytes d = ipv4(60);
    decode(concat({mpeSection(kOwn, d), mpeSection(kZero, d), mpeSection(kMulticast, d),
                   mpeSection(kBroadcastish, d), mpeSection(Mac{0, 0, 0, 0, 0, 1}, d), mpeSection(kIpv6Multicast, d)}));
    ASSERT_EQ(frames().size(), 4u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));
    EXPECT_EQ(frames()[1], expectedFrame(kMulticast, 0x0800, d));
    EXPECT_EQ(frames()[2], expectedFrame(kBroadcastish, 0x0800, d));
    EXPECT_EQ(frames()[3], expectedFrame(kIpv6Multicast, 0x0800, d));
}

TEST_F(MpeTest, FlagsC1AndC3Pass)
{
    const Bytes d = ipv4(80);
    SectionOptions llc;
    llc.llcSnap = true; // byte 5 = 0xC3
    const Bytes withLlc = mpeSection(kZero, d, llc);
    ASSERT_EQ(withLlc[5], 0xC3);
    decode(concat({mpeSection(kZero, d), withLlc}));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));
    EXPECT_EQ(frames()[1], expectedFrame(kZero, 0x0800, d));
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(MpeTest, FlagsC0AndD1CountACrcErrorAndEndTheWalk)
{
    for (uint8_t flags : {0xC0, 0xD1, 0x41, 0xC5, 0xC9}) {
        SCOPED_TRACE(flags);
        resetErrorCounters();
        capture().frames.clear();
        SectionOptions o;
        o.flags = flags;
        decode(concat({mpeSection(kZero, ipv4(50), o), mpeSection(kZero, ipv4(50))}));
        EXPECT_TRUE(frames().empty());
        EXPECT_EQ(errorCounters(), onlyError(kCrc));
        for (int h = 0; h < 16; ++h)
            g_decoder.sectionBuffers.freeBuffer(h);
    }
}

TEST_F(MpeTest, FlagsOfASkippedSectionAreNotTested)
{
    SectionOptions bad;
    bad.flags = 0x00;
    const Bytes d = ipv4(50);
    decode(concat({mpeSection(kOther, d, bad), mpeSection(kZero, d)}));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(errorCounters(), noErrors());
}

// A section of exactly `size` bytes carrying `datagram` for `mac`: the room
// behind the datagram is stuffing (0xFF), as a section may carry.
Bytes sectionOfSize(const Mac& mac, const Bytes& datagram, size_t size, bool llcSnap = false)
{
    SectionOptions o;
    o.llcSnap = llcSnap;
    o.ethertype = (datagram[0] >> 4) == 6 ? 0x86DD : 0x0800;
    Bytes s = mpeSection(mac, datagram, o);
    const size_t stuffing = size - s.size();
    s.insert(s.end() - 4, stuffing, 0xFF);
    const size_t sectionLength = s.size() - 3;
    s[1] = static_cast<uint8_t>(0xB0 | (sectionLength >> 8));
    s[2] = static_cast<uint8_t>(sectionLength);
    sealSection(s);
    return s;
}

TEST_F(MpeTest, SectionFailingItsCrcIsDroppedCountedAndTheWalkGoesOn)
{
    const Bytes d1 = ipv4(300, 1), d2 = ipv4(400, 2);
    Bytes bad = mpeSection(kZero, d1);
    bad[100] ^= 0x10;
    decode(concat({bad, mpeSection(kZero, d2)}));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d2));
    EXPECT_EQ(errorCounters(), onlyError(kCrc));

    // A section for another station is skipped without its CRC being looked at.
    Bytes other = mpeSection(kOther, d1);
    other.back() ^= 1;
    decode(concat({other, mpeSection(kZero, d2)}));
    EXPECT_EQ(frames().size(), 2u);
    EXPECT_EQ(errorCounters(), onlyError(kCrc));
}

TEST_F(MpeTest, SectionWithTheDsmccChecksumPassesUnverified)
{
    // section_syntax_indicator 0: the last four bytes are a checksum, not a CRC_32.
    const Bytes d = ipv4(200);
    Bytes s = mpeSection(kZero, d);
    s[1] &= 0x7F;
    s[s.size() - 1] ^= 0x5A;
    decode(s);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(MpeTest, EverySingleBitFlipInASectionIsCaught)
{
    capture().keepBatches = false;
    setMacFilter(kOwn);
    const Bytes next = ipv4(40, 9);
    const Bytes nextSection = mpeSection(kOwn, next);
    const Bytes nextFrame = expectedFrame(kOwn, 0x0800, next);
    struct Case {
        const char* what;
        Bytes datagram;
        size_t size;
        bool llcSnap;
    };
    const Case cases[] = {
        {"smallest IPv4", ipv4(20, 1), 36, false},
        {"IPv6 behind LLC/SNAP", ipv6(0, 2), 64, true},
        {"two packets' worth", ipv4(330, 3), 346, false},
        {"largest datagram", ipv4(1506, 4), 1522, false},
        {"4096 bytes with stuffing", ipv6(1400, 5), 4096, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes good = sectionOfSize(kOwn, c.datagram, c.size, c.llcSnap);
        ASSERT_EQ(good.size(), c.size);
        const Bytes goodFrame = expectedFrame(kOwn, (c.datagram[0] >> 4) == 6 ? 0x86DD : 0x0800, c.datagram);
        capture().frames.clear();
        decode(concat({good, nextSection}));
        ASSERT_EQ(frames().size(), 2u);
        ASSERT_EQ(frames()[0], goodFrame);
        capture().frames.clear();
        for (size_t bit = 0; bit < good.size() * 8; ++bit) {
            Bytes flipped = good;
            flipped[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
            resetErrorCounters();
            capture().frames.clear();
            decode(concat({flipped, nextSection}));
            const size_t byte = bit / 8;
            const bool syntaxIndicator = bit == 8;
            // The corrupted section never yields a frame; only a flipped
            // section_syntax_indicator lets it through (unverified checksum),
            // with its data intact.
            for (const Bytes& f : frames())
                ASSERT_TRUE(f == nextFrame || (syntaxIndicator && f == goodFrame)) << "bit " << bit;
            const bool walkMayChange = byte <= 2; // table_id, section_length
            const bool addressByte = byte == 3 || byte == 4 || (byte >= 8 && byte <= 11);
            if (addressByte) {
                ASSERT_EQ(errorCounters(), noErrors()) << "bit " << bit << ": another station's section, skipped";
                ASSERT_EQ(frames().size(), 1u) << "bit " << bit;
            } else if (!walkMayChange) {
                ASSERT_EQ(errorCounters(), onlyError(kCrc)) << "bit " << bit;
                ASSERT_EQ(frames().size(), 1u) << "bit " << bit << ": the next section is still delivered";
            }
        }
    }
}

TEST_F(MpeTest, LlcSnapWithAWrongHeaderCountsAnLlcSnapErrorAndEndsTheWalk)
{
    SectionOptions badOui;
    badOui.llcSnap = true;
    badOui.llcHeader = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x01};
    decode(concat({mpeSection(kZero, ipv4(50), badOui), mpeSection(kZero, ipv4(50))}));
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(errorCounters(), onlyError(kDropped));

    SectionOptions badLlc;
    badLlc.llcSnap = true;
    badLlc.llcHeader = {0xAB, 0xAA, 0x03, 0x00, 0x00, 0x00};
    decode(mpeSection(kZero, ipv4(50), badLlc));
    EXPECT_EQ(errorCounters(), onlyError(kDropped, 2));
}

TEST_F(MpeTest, LlcSnapSectionWithFewerThan24BytesLeftIsAnLlcSnapError)
{
    // A 19-byte section (section_length 16) with LLC_SNAP_flag at the end of a buffer.
    Bytes s = mpeSection(kZero, Bytes(3, 0x45));
    ASSERT_EQ(s.size(), 19u);
    s[5] = 0xC3;
    sealSection(s);
    decode(s);
    EXPECT_EQ(errorCounters(), onlyError(kDropped));
}

TEST_F(MpeTest, Ipv4TotalLength1500MakesA1514ByteFrame)
{
    const Bytes d = ipv4(1500);
    decode(mpeSection(kZero, d));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].size(), 1514u);
    EXPECT_EQ(frames()[0][12], 0x08);
    EXPECT_EQ(frames()[0][13], 0x00);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));
}

TEST_F(MpeTest, Ipv4LengthUsesOnlyTheLow12BitsOfTheTotalLength)
{
    Bytes d = ipv4(1500);
    d[2] = 0x15; // 0x15DC: low 12 bits 0x5DC = 1500
    decode(mpeSection(kZero, d));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].size(), 1514u);
}

TEST_F(MpeTest, Ipv6PayloadLength1000MakesA1054ByteFrame)
{
    const Bytes d = ipv6(1000);
    decode(mpeSection(kZero, d));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].size(), 1054u);
    EXPECT_EQ(frames()[0][12], 0x86);
    EXPECT_EQ(frames()[0][13], 0xDD);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x86DD, d));
}

TEST_F(MpeTest, LlcSnapEthertypeComesFromTheHeader)
{
    SectionOptions llc;
    llc.llcSnap = true;
    const Bytes d = ipv4(576);
    const Bytes s = mpeSection(kZero, d, llc);
    ASSERT_EQ(s[20], 0x45); // the datagram at section byte 20
    decode(s);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].size(), 590u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, d));

    // Whatever the header carries, even over an IPv6 datagram.
    llc.ethertype = 0x1234;
    const Bytes d6 = ipv6(100);
    decode(mpeSection(kZero, d6, llc));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[1], expectedFrame(kZero, 0x1234, d6));
}

TEST_F(MpeTest, EveryAcceptedSectionLeavesInADeviceCallOfItsOwn)
{
    setMacFilter(kOwn);
    const Bytes d1 = ipv4(1000, 1), d2 = ipv4(100, 2);
    decode(concat({mpeSection(kOther, d1), mpeSection(kOwn, d1), mpeSection(kOwn, d2)}));
    ASSERT_EQ(frames().size(), 2u);
    ASSERT_EQ(capture().batches.size(), 2u);
    for (DWORD size : capture().batchSizes)
        EXPECT_EQ(size, 24388u);
    for (const Bytes& raw : capture().batches) {
        const auto* batch = reinterpret_cast<const FrameBatch*>(raw.data());
        EXPECT_EQ(batch->frameCount, 1u);
        for (size_t i = 1; i < kFrameSlotCount; ++i) {
            EXPECT_EQ(batch->frameLengths[i], 0u);
            for (size_t j = 0; j < kFrameSlotSize; ++j)
                ASSERT_EQ(batch->frames[i][j], 0) << i << " " << j;
        }
    }
    const auto* first = reinterpret_cast<const FrameBatch*>(capture().batches[0].data());
    const auto* second = reinterpret_cast<const FrameBatch*>(capture().batches[1].data());
    EXPECT_EQ(first->frameLengths[0], 1014u);
    EXPECT_EQ(second->frameLengths[0], 114u);
    // Behind the short frame, slot 0 still holds the longer one of the same buffer.
    EXPECT_EQ(second->frames[0][500], first->frames[0][500]);
    EXPECT_EQ(first->frames[0][1014], 0);
    // After the walk the count is back to 0.
    EXPECT_EQ(g_decoder.frameBatch.frameCount, 0u);

    // A new buffer starts from a zeroed batch.
    decode(mpeSection(kOwn, ipv4(50, 3)));
    const auto* third = reinterpret_cast<const FrameBatch*>(capture().batches[2].data());
    EXPECT_EQ(third->frameLengths[0], 64u);
    for (size_t j = 64; j < kFrameSlotSize; ++j)
        ASSERT_EQ(third->frames[0][j], 0) << j;
}

// Every batch handed to the device is byte for byte the one of the reference
// algorithm (all 24388 bytes zeroed at each buffer, frames built in slot 0),
// whatever clearing the implementation does.
TEST_F(MpeTest, BatchesMatchAFullZeroFillByteForByte)
{
    const std::vector<std::vector<uint32_t>> buffers = {
        {1500, 100}, {700}, {64, 1000, 30}, {20}, {1506, 1506, 40}, {300}};
    std::vector<Bytes> expectedBatches;
    uint8_t seed = 1;
    for (const auto& lengths : buffers) {
        Bytes model(sizeof(FrameBatch), 0);
        Bytes buffer;
        for (uint32_t n : lengths) {
            const Bytes d = ipv4(n, seed++);
            const Bytes s = mpeSection(kZero, d);
            buffer.insert(buffer.end(), s.begin(), s.end());
            const Bytes f = expectedFrame(kZero, 0x0800, d);
            std::copy(f.begin(), f.end(), model.begin());
            const uint32_t length = static_cast<uint32_t>(f.size()), count = 1;
            std::memcpy(model.data() + offsetof(FrameBatch, frameLengths), &length, 4);
            std::memcpy(model.data() + offsetof(FrameBatch, frameCount), &count, 4);
            expectedBatches.push_back(model);
        }
        decode(buffer);
    }
    ASSERT_EQ(capture().batches.size(), expectedBatches.size());
    for (size_t i = 0; i < expectedBatches.size(); ++i)
        EXPECT_TRUE(capture().batches[i] == expectedBatches[i]) << "batch " << i;
}

TEST_F(MpeTest, WithoutAnAdapterOrWithARefusingOneFramesAreDroppedSilently)
{
    capture().refuseSends = true;
    decode(mpeSection(kZero, ipv4(100)));
    EXPECT_EQ(sendRequests(), 1);
    EXPECT_TRUE(frames().empty());
    closeAdapter(g_decoder.adapterHandle);
    g_decoder.adapterHandle = nullptr;
    decode(mpeSection(kZero, ipv4(100)));
    EXPECT_EQ(sendRequests(), 1);
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(g_decoder.frameBatch.frameCount, 0u);
}

// ---- Bounds: exact-size buffers, so AddressSanitizer sees
// any read past the data.

TEST_F(MpeTest, SectionRunningPastTheBufferIsALengthErrorAndEndsTheWalk)
{
    const Bytes good = ipv4(100, 1);
    Bytes cut = mpeSection(kZero, ipv4(1000, 2));
    cut.resize(200);
    decode(concat({mpeSection(kZero, good), cut}));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, good));
    EXPECT_EQ(errorCounters(), onlyError(kLength));

    // Also for a section of another station, and just over the minimum.
    Bytes other = mpeSection(kOther, ipv4(100));
    other.resize(60);
    decode(other);
    Bytes seventeen = mpeSection(kZero, Bytes(3, 0x45)); // 19 bytes, cut to 17
    seventeen.resize(17);
    decode(seventeen);
    EXPECT_EQ(errorCounters(), onlyError(kLength, 3));
}

TEST_F(MpeTest, DatagramRunningPastItsSectionIsALengthErrorAndTheWalkGoesOn)
{
    Bytes liar = ipv4(100, 1);
    liar[2] = 0x01; // says 500 bytes
    liar[3] = 0xF4;
    const Bytes next = ipv4(120, 2);
    decode(concat({mpeSection(kZero, liar), mpeSection(kZero, next)}));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, next));
    EXPECT_EQ(errorCounters(), onlyError(kLength));
}

TEST_F(MpeTest, DatagramRunningIntoTheCrcFieldIsALengthError)
{
    // The datagram field ends where the CRC_32 begins: an IP length 1 to 4
    // bytes too long would put CRC bytes into the frame.
    const Bytes d = ipv4(100);
    const Bytes next = ipv4(40, 9);
    for (uint8_t length = 100; length <= 105; ++length) {
        SCOPED_TRACE(int(length));
        Bytes s = mpeSection(kZero, d);
        s[12 + 3] = length;
        sealSection(s);
        resetErrorCounters();
        capture().frames.clear();
        decode(concat({s, mpeSection(kZero, next)}));
        ASSERT_FALSE(frames().empty());
        EXPECT_EQ(frames().back(), expectedFrame(kZero, 0x0800, next));
        EXPECT_EQ(frames().size(), length == 100 ? 2u : 1u);
        EXPECT_EQ(errorCounters(), length == 100 ? noErrors() : onlyError(kLength));
    }
}

// With LLC/SNAP and an ethertype other than IPv4 or IPv6 there is no IP header
// to read a length from: the datagram is everything up to the CRC_32, sent
// under that ethertype. A bridged Ethernet frame (0x6558) goes out as itself
// when its own destination passes the station filter.
TEST_F(MpeTest, NonIpLlcSnapPayloadsAreSentWhole)
{
    const Mac station{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    const Mac broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    setMacFilter(station);
    auto llc = [](uint16_t ethertype) {
        SectionOptions o;
        o.llcSnap = true;
        o.ethertype = ethertype;
        return o;
    };
    auto innerFrame = [](const Mac& destination, const Bytes& datagram) {
        Bytes f = expectedFrame(destination, 0x0800, datagram);
        for (int i = 0; i < 6; ++i)
            f[6 + i] = static_cast<uint8_t>(0xA0 + i); // a source of its own
        return f;
    };
    const Bytes toStation = innerFrame(station, ipv4(100, 1));
    const Bytes toOther = innerFrame(kOwn, ipv4(100, 2));
    const Bytes toMulticast = innerFrame(kMulticast, ipv4(1506, 3));
    const Bytes arp(28, 0x11);
    const Bytes vlan = concat({Bytes{0x00, 0x05, 0x08, 0x00}, ipv4(200, 4)});
    decode(concat({mpeSection(station, toStation, llc(0x6558)), mpeSection(broadcast, toOther, llc(0x6558)),
                   mpeSection(broadcast, toMulticast, llc(0x6558)), mpeSection(station, arp, llc(0x0806)),
                   mpeSection(station, vlan, llc(0x8100)), mpeSection(station, ipv4(1506, 5), llc(0x88B5))}));
    ASSERT_EQ(frames().size(), 5u);
    EXPECT_EQ(frames()[0], toStation);
    EXPECT_EQ(frames()[1], toMulticast);
    EXPECT_EQ(frames()[2], expectedFrame(station, 0x0806, arp));
    EXPECT_EQ(frames()[3], expectedFrame(station, 0x8100, vlan));
    EXPECT_EQ(frames()[4], expectedFrame(station, 0x88B5, ipv4(1506, 5)));
    EXPECT_EQ(errorCounters(), noErrors());

    // More than a frame slot holds, a bridged frame without a whole header,
    // or nothing at all: length errors, and the walk goes on.
    decode(concat({mpeSection(station, ipv4(1507), llc(0x0806)),
                   mpeSection(station, concat({toMulticast, Bytes{0}}), llc(0x6558)),
                   mpeSection(station, Bytes(13, 0x02), llc(0x6558)), mpeSection(station, {}, llc(0x0806)),
                   mpeSection(station, arp, llc(0x0806))}));
    EXPECT_EQ(frames().size(), 6u);
    EXPECT_EQ(errorCounters(), onlyError(kLength, 4));
}

TEST_F(MpeTest, DatagramOver1506BytesIsALengthError)
{
    const Bytes max = ipv4(1506, 1);
    decode(mpeSection(kZero, max));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0].size(), 1520u);
    EXPECT_EQ(frames()[0], expectedFrame(kZero, 0x0800, max));

    const Bytes next = ipv4(64, 2);
    decode(concat({mpeSection(kZero, ipv4(1507)), mpeSection(kZero, ipv6(1467)), mpeSection(kZero, next)}));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[1], expectedFrame(kZero, 0x0800, next));
    EXPECT_EQ(errorCounters(), onlyError(kLength, 2));

    // IPv4 lengths are at most 4095; IPv6 ones up to 40 + 65535.
    Bytes huge6 = ipv6(200);
    huge6[4] = 0xFF;
    huge6[5] = 0xFF;
    decode(mpeSection(kZero, huge6));
    EXPECT_EQ(errorCounters(), onlyError(kLength, 3));
}

TEST_F(MpeTest, IpHeaderBeyondTheSectionIsALengthError)
{
    // A 19-byte LLC/SNAP section: its datagram would start at byte 20, behind the
    // section; the buffer goes on (stuffing), so the LLC/SNAP test passes. The
    // header overlaps the CRC field, so these sections carry the DSM-CC
    // checksum (section_syntax_indicator 0), which is not verified.
    Bytes s = mpeSection(kZero, Bytes(3, 0x45));
    s[1] &= 0x7F;
    s[5] = 0xC3;
    const Bytes header{0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x08};
    std::copy(header.begin(), header.end(), s.begin() + 12);
    decode(concat({s, Bytes(10, 0xFF)}));
    EXPECT_EQ(errorCounters(), onlyError(kLength));

    // An IPv6 datagram whose payload length bytes would lie behind the section:
    // LLC/SNAP section of 24 bytes, datagram at 20 with 4 bytes.
    Bytes v6 = mpeSection(kZero, Bytes{0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x86, 0xDD, 0x60, 0, 0, 0});
    v6[1] &= 0x7F;
    v6[5] = 0xC3;
    ASSERT_EQ(v6.size(), 28u);
    v6[2] = 21; // section_length 21: 24 bytes, the datagram's 4 bytes at 20..23
    v6.resize(24);
    decode(concat({v6, Bytes(4, 0xFF)}));
    EXPECT_EQ(errorCounters(), onlyError(kLength, 2));
    EXPECT_TRUE(frames().empty());
}

TEST_F(MpeTest, RandomBuffersNeverReadOutOfBoundsAndErrorsAddUp)
{
    std::mt19937 rng(12345);
    setMacFilter(kZero);
    for (int round = 0; round < 3000; ++round) {
        const size_t size = rng() % 400;
        Bytes b(size);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng());
        // Make it look like MPE often enough to get deep into the walk.
        size_t pos = 0;
        while (pos + 12 < size && rng() % 4 != 0) {
            const uint32_t len = 16 + rng() % 120;
            b[pos] = 0x3E;
            b[pos + 1] = static_cast<uint8_t>(len >> 8);
            b[pos + 2] = static_cast<uint8_t>(len);
            b[pos + 5] = (rng() % 2) ? 0xC1 : 0xC3;
            b[pos + 8] = b[pos + 9] = b[pos + 10] = b[pos + 11] = b[pos + 3] = b[pos + 4] = 0;
            pos += 3 + len;
        }
        testing::internal::CaptureStdout();
        decode(b);
        testing::internal::GetCapturedStdout();
        for (int h = 0; h < 16; ++h)
            g_decoder.sectionBuffers.freeBuffer(h);
    }
    const auto e = errorCounters();
    EXPECT_EQ(e[0], e[1] + e[2] + e[3] + e[4] + e[5] + e[6] + e[7]);
    for (const Bytes& f : frames())
        EXPECT_LE(f.size(), 1520u);
    EXPECT_GT(frames().size(), 0u);
}

} // namespace
