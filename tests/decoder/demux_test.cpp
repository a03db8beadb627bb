// processPacket, startSection, continueSection.
#include "test_support.h"

using namespace dt;

namespace {

constexpr int kPid = 0x100;
const Mac kZeroMac{};

class DemuxTest : public DecoderTest {
protected:
    void SetUp() override
    {
        DecoderTest::SetUp();
        assignSlot(kPid);
        ASSERT_EQ(g_decoder.pidSlot[kPid], 1);
    }
    SectionSlot& slot() { return g_decoder.sectionSlots[1]; }
    uint32_t bufferLength() { return g_decoder.sectionBuffers.bufferLength(slot().bufferHandle); }
    void send(const Bytes& p) { processPacket(p.data()); }
};

// The first 183 bytes of an MPE section of 4098 bytes, the rest `fill`.
Bytes opening(uint8_t fill)
{
    Bytes b(183, fill);
    b[0] = 0x3E;
    b[1] = 0xBF;
    b[2] = 0xFF;
    return b;
}

TEST_F(DemuxTest, UnselectedPidCountsOnlyItsPerPidCounters)
{
    const Bytes p = startPacket(0x200, 0, 0, mpeSection(kZeroMac, ipv4(100)));
    send(p);
    const DecoderState& s = g_decoder;
    EXPECT_EQ(value(s.pidPackets[0x200]), 1u);
    EXPECT_EQ(value(s.pidMpeSections[0x200]), 1u);
    EXPECT_EQ(value(s.pidSelectedPackets[0x200]), 0u);
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(slot().state, SlotIdle);
    EXPECT_TRUE(frames().empty());
}

TEST_F(DemuxTest, MpeSectionCountNeedsPayloadStartCleanBitsAndTableIdAtByteFive)
{
    const DecoderState& s = g_decoder;
    PacketFields f;
    f.pid = 0x300;
    f.unitStart = true;
    const Bytes body{0x00, 0x3E};
    send(packet(f, body));
    EXPECT_EQ(value(s.pidMpeSections[0x300]), 1u);

    PacketFields noPayload = f;
    noPayload.adaptationControl = 2;
    send(packet(noPayload, body));
    PacketFields noStart = f;
    noStart.unitStart = false;
    send(packet(noStart, body));
    PacketFields error = f;
    error.transportError = true;
    send(packet(error, body));
    PacketFields scrambled = f;
    scrambled.scrambling = 1;
    send(packet(scrambled, body));
    send(packet(f, Bytes{0x00, 0x3F}));
    EXPECT_EQ(value(s.pidMpeSections[0x300]), 1u);
    EXPECT_EQ(value(s.pidPackets[0x300]), 6u);

    // The raw byte 5, whatever the pointer or adaptation field says.
    send(packet(f, Bytes{0x05, 0x3E}));
    PacketFields withAdaptation = f;
    withAdaptation.adaptationControl = 3;
    send(packet(withAdaptation, Bytes{0x01, 0x3E}));
    EXPECT_EQ(value(s.pidMpeSections[0x300]), 3u);
}

TEST_F(DemuxTest, EveryPacketOfASelectedPidIsCounted)
{
    PacketFields f;
    f.pid = kPid;
    f.adaptationControl = 0;
    send(packet(f));
    f.adaptationControl = 2;
    send(packet(f));
    f.adaptationControl = 1;
    f.scrambling = 3;
    send(packet(f));
    EXPECT_EQ(value(g_decoder.pidSelectedPackets[kPid]), 3u);
    EXPECT_EQ(value(g_decoder.pidPackets[kPid]), 3u);
}

TEST_F(DemuxTest, AdaptationFieldLength183LeavesNoPayload)
{
    PacketFields f;
    f.pid = kPid;
    f.unitStart = true;
    f.adaptationControl = 3;
    f.scrambling = 2; // not even counted as scrambled: the packet stops before
    Bytes body(184, 0x00);
    body[0] = 183;
    send(packet(f, body));
    body[0] = 255; // beyond the packet
    send(packet(f, body));
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(slot().state, SlotIdle);
    EXPECT_EQ(bufferLength(), 0u);
    EXPECT_EQ(value(g_decoder.pidSelectedPackets[kPid]), 2u);
}

TEST_F(DemuxTest, AdaptationFieldIsSkippedBeforeThePayload)
{
    PacketFields f;
    f.pid = kPid;
    f.unitStart = true;
    f.adaptationControl = 3;
    Bytes body(184, 0xAA);
    body[0] = 10;  // adaptation_field_length: 11 bytes in all
    body[11] = 0;  // pointer field
    body[12] = 0x3E;
    send(packet(f, body));
    EXPECT_EQ(slot().state, SlotAssembling);
    EXPECT_EQ(bufferLength(), 184u - 11 - 1);
    EXPECT_EQ(g_decoder.sectionBuffers.bufferData(slot().bufferHandle)[0], 0x3E);
    // A continuation with a 1-byte adaptation field (length 0).
    PacketFields c;
    c.pid = kPid;
    c.continuity = 1;
    c.adaptationControl = 3;
    send(packet(c, Bytes{0x00}));
    EXPECT_EQ(bufferLength(), 172u + 183);
}

TEST_F(DemuxTest, AdaptationOnlyOrReservedControlChangeNothingBeyondCounters)
{
    for (int control : {0, 2}) {
        PacketFields f;
        f.pid = kPid;
        f.unitStart = true;
        f.adaptationControl = control;
        f.transportError = true; // no payload: not an error
        send(packet(f, Bytes{0x00, 0x3E}));
    }
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(slot().state, SlotIdle);
    EXPECT_EQ(value(g_decoder.pidPackets[kPid]), 2u);
}

TEST_F(DemuxTest, ScramblingOrTransportErrorWithPayload)
{
    send(startPacket(kPid, 0, 0, Bytes(183, 0x3E)));
    ASSERT_EQ(slot().state, SlotAssembling);
    PacketFields f;
    f.pid = kPid;
    f.continuity = 1;
    f.scrambling = 2;
    send(packet(f));
    EXPECT_EQ(slot().state, SlotScrambled);
    EXPECT_EQ(errorCounters(), onlyError(kScrambled));
    f.scrambling = 0;
    f.transportError = true;
    f.continuity = 2;
    send(packet(f));
    EXPECT_EQ(errorCounters(), onlyError(kScrambled, 2));
}

TEST_F(DemuxTest, ContinuityFourteenFifteenZeroOneIsInSequence)
{
    send(startPacket(kPid, 14, 0, opening(1)));
    send(continuationPacket(kPid, 15, Bytes(184, 2)));
    send(continuationPacket(kPid, 0, Bytes(184, 3)));
    send(continuationPacket(kPid, 1, Bytes(184, 4)));
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(slot().state, SlotAssembling);
    EXPECT_EQ(slot().lastContinuity, 1);
    EXPECT_EQ(bufferLength(), 183u + 3 * 184);
}

TEST_F(DemuxTest, ContinuityFourteenThenZeroIsAnError)
{
    send(startPacket(kPid, 14, 0, opening(1)));
    send(continuationPacket(kPid, 0, Bytes(184, 2)));
    EXPECT_EQ(errorCounters(), onlyError(kContinuity));
    EXPECT_EQ(slot().state, SlotContinuityError);
    EXPECT_EQ(slot().lastContinuity, 0);
    EXPECT_EQ(bufferLength(), 183u); // dropped
    // Further continuations are not checked and dropped.
    send(continuationPacket(kPid, 7, Bytes(184, 2)));
    EXPECT_EQ(errorCounters(), onlyError(kContinuity));
    EXPECT_EQ(bufferLength(), 183u);
    // The next section start recovers (a start is never checked for continuity).
    send(startPacket(kPid, 3, 0, opening(1)));
    EXPECT_EQ(slot().state, SlotAssembling);
}

TEST_F(DemuxTest, DuplicatesAreIgnored)
{
    send(startPacket(kPid, 5, 0, opening(1)));
    send(startPacket(kPid, 5, 0, opening(9))); // duplicate start: buffer kept
    EXPECT_EQ(bufferLength(), 183u);
    EXPECT_EQ(g_decoder.sectionBuffers.bufferData(slot().bufferHandle)[3], 1);
    send(continuationPacket(kPid, 6, Bytes(184, 2)));
    send(continuationPacket(kPid, 6, Bytes(184, 2)));
    send(continuationPacket(kPid, 7, Bytes(184, 3)));
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(bufferLength(), 183u + 2 * 184);
}

TEST_F(DemuxTest, ContinuationsBeforeAnySectionStartAreDroppedSilently)
{
    send(continuationPacket(kPid, 3, Bytes(184, 2)));
    send(continuationPacket(kPid, 9, Bytes(184, 2)));
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(slot().state, SlotIdle);
    EXPECT_EQ(slot().lastContinuity, 9);
    EXPECT_EQ(bufferLength(), 0u);
}

TEST_F(DemuxTest, PointerField183FinishesThePreviousSectionAndStartsAnEmptyOne)
{
    const Bytes datagram = ipv4(350);
    const Bytes section = mpeSection(kZeroMac, datagram); // 366 bytes
    ASSERT_EQ(section.size(), 366u);
    send(startPacket(kPid, 0, 0, Bytes(section.begin(), section.begin() + 183)));
    send(startPacket(kPid, 1, 183, Bytes(section.begin() + 183, section.end())));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZeroMac, 0x0800, datagram));
    EXPECT_EQ(slot().state, SlotOverflow);
    EXPECT_EQ(slot().lastContinuity, 1);
    EXPECT_EQ(errorCounters(), onlyError(kMem));
}

TEST_F(DemuxTest, PointerField184IsAPointerErrorAndNothingIsDecoded)
{
    const Bytes section = mpeSection(kZeroMac, ipv4(300)); // 316 bytes: two packets
    send(startPacket(kPid, 0, 0, Bytes(section.begin(), section.begin() + 183)));
    Bytes rest(section.begin() + 183, section.end());
    rest.resize(183, 0xFF);
    send(startPacket(kPid, 1, 184, rest));
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(slot().state, SlotPointerError);
    EXPECT_EQ(errorCounters(), onlyError(kPointer));
    // The next start does not decode it either (state 2).
    send(startPacket(kPid, 2, 0, Bytes(183, 0xFF)));
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(slot().state, SlotAssembling);
}

TEST_F(DemuxTest, PointerFieldInsideThePacketEndsOneSectionAndStartsTheNext)
{
    // Two sections back to back: the second starts inside a packet.
    const Bytes d1 = ipv4(300, 1), d2 = ipv4(200, 2);
    int cc = 0;
    feed(packetiseSections(kPid, {mpeSection(kZeroMac, d1), mpeSection(kZeroMac, d2)}, cc));
    // The first section start packet holds the start of section 1; the
    // packet with pointer 316 - 183 = 133 holds its end and section 2's start.
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], expectedFrame(kZeroMac, 0x0800, d1));
    EXPECT_EQ(frames()[1], expectedFrame(kZeroMac, 0x0800, d2));
    EXPECT_EQ(errorCounters(), noErrors());
}

// Sections are delimited by their own length whatever their table: another
// table sharing the PID (MPE-FEC, 0x78) or an MPE section too short to be one
// does not hide the MPE sections behind it in the same payload unit, and no run
// of such sections fills the section buffer.
TEST_F(DemuxTest, SectionsOfOtherTablesArePassedOverAndThoseBehindThemDecoded)
{
    const Bytes d1 = ipv4(300, 1), d2 = ipv4(100, 2);
    Bytes fec(1000, 0x5A);
    fec[0] = 0x78;
    fec[1] = 0xB3;
    fec[2] = 0xE5; // section_length 997
    Bytes tooShort = mpeSection(kZeroMac, ipv4(20));
    tooShort.resize(13);
    tooShort[1] = 0xB0;
    tooShort[2] = 10;
    std::vector<Bytes> sections;
    for (int i = 0; i < 140; ++i) // 140,000 bytes of MPE-FEC
        sections.push_back(fec);
    sections.push_back(mpeSection(kZeroMac, d1));
    sections.push_back(fec);
    sections.push_back(tooShort);
    sections.push_back(mpeSection(kZeroMac, d2));
    int cc = 0;
    testing::internal::CaptureStdout();
    feed(packetiseSections(kPid, sections, cc));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], expectedFrame(kZeroMac, 0x0800, d1));
    EXPECT_EQ(frames()[1], expectedFrame(kZeroMac, 0x0800, d2));
    EXPECT_EQ(errorCounters(), onlyError(kLength)) << "the section too short to be MPE";
    EXPECT_EQ(slot().state, SlotAssembling);
}

// With one section per packet, a packet lost before a section start takes a
// whole datagram with it: the gap is a continuity error, and the section that
// starts there is still decoded. A repeated packet or an adaptation-field-only
// packet carrying the same counter is no gap.
TEST_F(DemuxTest, APacketLostBeforeASectionStartIsAContinuityError)
{
    std::vector<Bytes> datagrams;
    for (uint8_t i = 0; i < 5; ++i)
        datagrams.push_back(ipv4(150, i));
    send(startPacket(kPid, 0, 0, mpeSection(kZeroMac, datagrams[0])));
    send(startPacket(kPid, 0, 0, mpeSection(kZeroMac, datagrams[0]))); // repeated
    PacketFields adaptationOnly;
    adaptationOnly.pid = kPid;
    adaptationOnly.adaptationControl = 2;
    send(packet(adaptationOnly, Bytes{183}));
    send(startPacket(kPid, 1, 0, mpeSection(kZeroMac, datagrams[1])));
    EXPECT_EQ(errorCounters(), noErrors());
    send(startPacket(kPid, 3, 0, mpeSection(kZeroMac, datagrams[2]))); // 2 lost
    EXPECT_EQ(errorCounters(), onlyError(kContinuity));
    send(startPacket(kPid, 9, 0, mpeSection(kZeroMac, datagrams[3]))); // 4..8 lost
    send(startPacket(kPid, 10, 0, mpeSection(kZeroMac, datagrams[4])));
    EXPECT_EQ(errorCounters(), onlyError(kContinuity, 2));
    ASSERT_EQ(frames().size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(frames()[i], expectedFrame(kZeroMac, 0x0800, datagrams[i])) << i;
    EXPECT_EQ(slot().state, SlotAssembling);
}

TEST_F(DemuxTest, OnlyAnErrorFreeSectionIsDecoded)
{
    const Bytes section = mpeSection(kZeroMac, ipv4(300)); // two packets
    const Bytes head(section.begin(), section.begin() + 183), tail(section.begin() + 183, section.end());
    send(startPacket(kPid, 0, 0, head));
    send(continuationPacket(kPid, 2, tail)); // continuity error: its end is dropped
    send(startPacket(kPid, 3, 0, head));
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(errorCounters(), onlyError(kContinuity));
    send(continuationPacket(kPid, 4, tail));
    EXPECT_EQ(frames().size(), 1u);
}

// Every row of the slot state table, from every state.
TEST_F(DemuxTest, StateTransitionsFromEveryState)
{
    for (int from = SlotAssembling; from <= SlotOverflow; ++from) {
        SCOPED_TRACE(from);
        auto prepare = [&](int last = 4) {
            slot().state = from;
            slot().lastContinuity = last;
            g_decoder.sectionBuffers.resetBuffer(slot().bufferHandle);
        };
        // Error or scrambling bits -> 4.
        prepare();
        PacketFields f;
        f.pid = kPid;
        f.continuity = 5;
        f.transportError = true;
        send(packet(f));
        EXPECT_EQ(slot().state, SlotScrambled);
        // Pointer field beyond the payload -> 2.
        prepare();
        send(startPacket(kPid, 5, 200, {}));
        EXPECT_EQ(slot().state, SlotPointerError);
        // Section start, not a duplicate -> 0.
        prepare();
        send(startPacket(kPid, 5, 0, Bytes(183, 0xFF)));
        EXPECT_EQ(slot().state, SlotAssembling);
        // Section start whose append is refused -> 5.
        prepare();
        send(startPacket(kPid, 5, 183, Bytes(183, 0xFF)));
        EXPECT_EQ(slot().state, SlotOverflow);
        // Continuation.
        prepare();
        send(continuationPacket(kPid, 5, Bytes(184, 1)));
        if (from == SlotAssembling) {
            EXPECT_EQ(slot().state, SlotAssembling);
            EXPECT_EQ(bufferLength(), 184u);
            prepare();
            send(continuationPacket(kPid, 7, Bytes(184, 1))); // wrong counter
            EXPECT_EQ(slot().state, SlotContinuityError);
        } else {
            EXPECT_EQ(slot().state, from); // unchanged, data dropped
            EXPECT_EQ(bufferLength(), 0u);
        }
        // assignSlot / releaseSlot -> 1.
        prepare();
        releaseSlot(kPid);
        EXPECT_EQ(g_decoder.sectionSlots[1].state, SlotIdle);
        g_decoder.sectionSlots[1].state = from;
        assignSlot(kPid);
        ASSERT_EQ(g_decoder.pidSlot[kPid], 1);
        EXPECT_EQ(slot().state, SlotIdle);
        resetErrorCounters();
    }
    // A continuation whose append is refused: 0 -> 5.
    send(startPacket(kPid, 0, 0, Bytes(183, 0xFF)));
    SectionBufferEntry& entry = g_decoder.sectionBuffers.entries[slot().bufferHandle];
    entry.length = entry.capacity - 100;
    send(continuationPacket(kPid, 1, Bytes(184, 1)));
    EXPECT_EQ(slot().state, SlotOverflow);
    EXPECT_EQ(errorCounters(), onlyError(kMem));
}

TEST_F(DemuxTest, PacketsOfAnotherPidLeaveThisPidsSectionAlone)
{
    assignSlot(0x101);
    const Bytes d1 = ipv4(300, 1), d2 = ipv4(100, 2);
    const Bytes s1 = mpeSection(kZeroMac, d1);
    send(startPacket(kPid, 0, 0, Bytes(s1.begin(), s1.begin() + 183)));
    send(startPacket(0x101, 0, 0, mpeSection(kZeroMac, d2)));
    send(startPacket(0x101, 1, 0, Bytes(183, 0xFF)));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZeroMac, 0x0800, d2));
    send(continuationPacket(kPid, 1, Bytes(s1.begin() + 183, s1.end())));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[1], expectedFrame(kZeroMac, 0x0800, d1));
    EXPECT_EQ(errorCounters(), noErrors());
}

// A section goes on as soon as its last byte is in, not when the next section
// starts on its PID (which may not happen for a long time, or ever): alone in
// a packet, back to back in one packet, across packets, and ended by the pointer
// field of the next start. Stuffing behind a section is passed over.
TEST_F(DemuxTest, ASectionIsDecodedAsSoonAsItsLastByteIsIn)
{
    const Bytes d1 = ipv4(100, 1), d2 = ipv4(40, 2), d3 = ipv4(500, 3), d4 = ipv4(60, 4);
    const Bytes s1 = mpeSection(kZeroMac, d1), s2 = mpeSection(kZeroMac, d2), s3 = mpeSection(kZeroMac, d3);
    send(startPacket(kPid, 0, 0, s1));
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(frames()[0], expectedFrame(kZeroMac, 0x0800, d1));
    EXPECT_EQ(bufferLength(), 0u) << "the stuffing behind it is not kept";

    // s2 and the start of s3 in one packet; s3 ends in the packet after.
    size_t at = 183 - s2.size();
    send(startPacket(kPid, 1, 0, concat({s2, Bytes(s3.begin(), s3.begin() + at)})));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[1], expectedFrame(kZeroMac, 0x0800, d2));
    send(continuationPacket(kPid, 2, Bytes(s3.begin() + at, s3.begin() + at + 184)));
    at += 184;
    EXPECT_EQ(frames().size(), 2u);
    send(continuationPacket(kPid, 3, Bytes(s3.begin() + at, s3.begin() + at + 184)));
    at += 184;
    // The last bytes of s3 ahead of the pointer field, then a section for
    // the broadcast address that ends in the same packet.
    const Mac broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes last(s3.begin() + at, s3.end());
    send(startPacket(kPid, 4, static_cast<uint8_t>(last.size()), concat({last, mpeSection(broadcast, d4)})));
    ASSERT_EQ(frames().size(), 4u);
    EXPECT_EQ(frames()[2], expectedFrame(kZeroMac, 0x0800, d3));
    EXPECT_EQ(frames()[3], expectedFrame(broadcast, 0x0800, d4));
    EXPECT_EQ(errorCounters(), noErrors());

    // A section cut short by the next start still counts one length error.
    send(startPacket(kPid, 5, 0, Bytes(s3.begin(), s3.begin() + 183)));
    send(startPacket(kPid, 6, 0, s1));
    EXPECT_EQ(errorCounters(), onlyError(kLength));
    EXPECT_EQ(frames().size(), 5u);
}

// ISO/IEC 13818-1 lets a packet be sent twice with the same continuity
// counter. A repeated section start must change nothing: not the sections it
// completed nor the one it began (its pointer field 0 or not).
TEST_F(DemuxTest, ARepeatedStartPacketChangesNothing)
{
    const Bytes d1 = ipv4(200, 1), d2 = ipv4(60, 2), d3 = ipv4(400, 3);
    const Bytes s1 = mpeSection(kZeroMac, d1), s2 = mpeSection(kZeroMac, d2), s3 = mpeSection(kZeroMac, d3);
    std::vector<Bytes> packets;
    packets.push_back(startPacket(kPid, 0, 0, Bytes(s1.begin(), s1.begin() + 183)));
    // End of s1, all of s2, start of s3.
    const Bytes end1(s1.begin() + 183, s1.end());
    const Bytes rest = concat({end1, s2, s3});
    packets.push_back(startPacket(kPid, 1, static_cast<uint8_t>(end1.size()), Bytes(rest.begin(), rest.begin() + 183)));
    const size_t s3Sent = 183 - end1.size() - s2.size();
    packets.push_back(continuationPacket(kPid, 2, Bytes(s3.begin() + s3Sent, s3.begin() + s3Sent + 184)));
    packets.push_back(continuationPacket(kPid, 3, Bytes(s3.begin() + s3Sent + 184, s3.end())));
    packets.push_back(startPacket(kPid, 4, 0, Bytes(183, 0xFF)));

    feed(packets);
    const std::vector<Bytes> expected = {expectedFrame(kZeroMac, 0x0800, d1), expectedFrame(kZeroMac, 0x0800, d2),
                                         expectedFrame(kZeroMac, 0x0800, d3)};
    ASSERT_EQ(frames(), expected);
    ASSERT_EQ(errorCounters(), noErrors());

    for (size_t repeated : {size_t(0), size_t(1)}) {
        SCOPED_TRACE(repeated);
        resetDecoder();
        assignSlot(kPid);
        capture().frames.clear();
        for (size_t i = 0; i < packets.size(); ++i) {
            send(packets[i]);
            if (i == repeated)
                send(packets[i]);
        }
        EXPECT_EQ(frames(), expected);
        EXPECT_EQ(errorCounters(), noErrors());
        EXPECT_EQ(slot().state, SlotAssembling);
    }
}

} // namespace
