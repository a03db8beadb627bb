// ULE on a PID: SNDUs packed and spanning packets, destinations, types,
// extension headers, and damage: CRC-32, lost packets, payload pointers.
#include "test_support.h"

#include "tests/support/encap_builders.h"

using namespace dt;
using encap::sndu;

namespace {

constexpr int kPid = 0x300;
const Bytes kOwn{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Bytes kOther{0x00, 0x11, 0x22, 0x33, 0x44, 0x56};

class UleTest : public DecoderTest {
protected:
    void SetUp() override
    {
        DecoderTest::SetUp();
        setMacFilter(Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
        assignSlot(kPid, SlotUle);
    }
    uint64_t uleErrors() { return value(g_decoder.rxUleErrors); }
    int cc = 0;
};

TEST_F(UleTest, PackedAndSpanningSndusBecomeFrames)
{
    const Bytes small = encap::ipv4To(0x0A000001, 40, 1);
    const Bytes big = encap::ipv4To(0x0A000001, 1500, 2);
    const Bytes group6 = encap::ipv6To(0xFF, 0xAABBCCDD, 100, 3);
    const Bytes inner = concat({Bytes(6, 0xFF), Bytes{1, 2, 3, 4, 5, 6}, Bytes{0x08, 0x00}, small});
    Bytes timestamped{0xDE, 0xAD, 0xBE, 0xEF, 0x08, 0x00}; // H-LEN 3, H-Type 1, then IPv4
    timestamped.insert(timestamped.end(), small.begin(), small.end());
    std::vector<Bytes> sndus{sndu(0x0800, kOwn, small),       sndu(0x0800, kOther, small),
                             sndu(0x0800, {}, big),           sndu(0x86DD, {}, group6),
                             sndu(0x0001, {}, inner),         sndu(0x0301, kOwn, timestamped),
                             sndu(0x0800, kOwn, small),       sndu(0x0800, kOwn, encap::ipv4To(1, 1507))};
    feed(encap::uleStream(kPid, sndus, cc));
    ASSERT_EQ(frames().size(), 6u);
    EXPECT_EQ(frames()[0], encap::ethernet(kOwn, 0x0800, small));
    EXPECT_EQ(frames()[1], encap::ethernet(kOwn, 0x0800, big)) << "D=1: the station address";
    EXPECT_EQ(frames()[2], encap::ethernet({0x33, 0x33, 0xAA, 0xBB, 0xCC, 0xDD}, 0x86DD, group6));
    EXPECT_EQ(frames()[3], inner);
    EXPECT_EQ(frames()[4], encap::ethernet(kOwn, 0x0800, small)) << "extension header skipped";
    EXPECT_EQ(frames()[5], encap::ethernet(kOwn, 0x0800, small));
    EXPECT_EQ(value(g_decoder.rxLengthErrors), 1u);
    EXPECT_EQ(value(g_decoder.rxErrors), 1u);
    EXPECT_EQ(value(g_decoder.pidMpeSections[kPid]), 6u);
}

TEST_F(UleTest, SnduLengthsSplitAtEveryPlaceInAPacket)
{
    // SNDUs of every size around the packet payload so that the base header
    // falls across packet boundaries at every offset.
    std::vector<Bytes> sndus;
    std::vector<Bytes> expected;
    for (uint32_t n = 20; n < 220; ++n) {
        const Bytes d = encap::ipv4To(0x0A000001, n, static_cast<uint8_t>(n));
        sndus.push_back(sndu(0x0800, n % 2 ? kOwn : Bytes{}, d));
        expected.push_back(encap::ethernet(kOwn, 0x0800, d));
    }
    feed(encap::uleStream(kPid, sndus, cc));
    EXPECT_EQ(frames(), expected);
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(uleErrors(), 0u);
}

TEST_F(UleTest, DamageIsCountedAndDecodingResumesAtTheNextPayloadPointer)
{
    const Bytes d = encap::ipv4To(0x0A000001, 400, 1);
    const Bytes e = encap::ipv4To(0x0A000001, 50, 2);
    feed(encap::uleStream(kPid, {sndu(0x0800, kOwn, d, true), sndu(0x0800, kOwn, e)}, cc));
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(uleErrors(), 1u) << "CRC-32";

    // A packet lost inside an SNDU: that SNDU goes, the next one comes.
    auto packets = encap::uleStream(kPid, {sndu(0x0800, kOwn, d), sndu(0x0800, kOwn, e)}, cc);
    ASSERT_EQ(packets.size(), 3u);
    packets.erase(packets.begin() + 1);
    feed(packets);
    EXPECT_EQ(frames().size(), 2u);
    EXPECT_EQ(uleErrors(), 2u) << "continuity";

    // A payload pointer that disagrees with the SNDU in progress; the next
    // SNDUs come again.
    packets = encap::uleStream(kPid, {sndu(0x0800, kOwn, d), sndu(0x0800, kOwn, e)}, cc);
    packets[2][4] -= 1;
    feed(packets);
    EXPECT_GE(uleErrors(), 3u);
    feed(encap::uleStream(kPid, {sndu(0x0800, kOwn, e)}, cc));
    EXPECT_EQ(frames().size(), 3u);
    const uint64_t before = uleErrors();

    // An unknown mandatory extension header; a test SNDU is dropped quietly.
    feed(encap::uleStream(kPid, {sndu(0x0042, kOwn, e), sndu(0x0000, kOwn, e), sndu(0x0800, kOwn, e)}, cc));
    EXPECT_EQ(uleErrors(), before + 1);
    EXPECT_EQ(frames().size(), 4u);
    EXPECT_EQ(frames().back(), encap::ethernet(kOwn, 0x0800, e));
    EXPECT_EQ(value(g_decoder.rxErrors), before + 1);
}

TEST_F(UleTest, DataBeforeTheFirstPayloadPointerAndDuplicatesAreIgnored)
{
    const Bytes d = encap::ipv4To(0x0A000001, 400, 1);
    auto packets = encap::uleStream(kPid, {sndu(0x0800, kOwn, d), sndu(0x0800, kOwn, d)}, cc);
    packets.insert(packets.begin() + 2, packets[1]); // sent twice
    feed({packets.begin() + 1, packets.end()});     // joined in the middle of the first SNDU
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(errorCounters(), noErrors());
    EXPECT_EQ(uleErrors(), 0u);
}

} // namespace
