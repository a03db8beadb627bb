// Baseband frames and GSE into Ethernet frames: labels, extension headers,
// fragments, padding, multistream, the three ways frames come in, and damage.
#include "test_support.h"

#include "decoder/bbframe.h"
#include "tests/support/encap_builders.h"

#include <random>

using namespace dt;
using encap::gseComplete;

namespace {

const Bytes kOwn{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Bytes kOther{0x00, 0x11, 0x22, 0x33, 0x44, 0x56};
const Bytes kBroadcast(6, 0xFF);

class GseTest : public DecoderTest {
protected:
    void SetUp() override
    {
        DecoderTest::SetUp();
        setMacFilter(Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    }
    void frame(const Bytes& dataField, uint8_t matype = encap::kGsSingle, uint8_t isi = 0)
    {
        const Bytes f = encap::bbFrame(matype, isi, dataField);
        decodeBasebandFrame(f.data(), f.size());
    }
    uint64_t gseErrors() { return value(g_decoder.rxGseErrors); }
    uint64_t bbErrors() { return value(g_decoder.rxBbFrameErrors); }
};

Bytes join(std::initializer_list<Bytes> parts) { return concat(parts); }

TEST_F(GseTest, CompletePdusTakeTheirDestinationFromLabelOrIpDestination)
{
    const Bytes unicast = encap::ipv4To(0x0A000001, 100, 1);
    const Bytes group = encap::ipv4To(0xEFC10203, 90, 2); // 239.193.2.3
    const Bytes group6 = encap::ipv6To(0xFF, 0x12345678, 30, 3);
    const Bytes other6 = encap::ipv6To(0x20, 0x12345678, 30, 4);
    frame(join({gseComplete(encap::Label6, 0x0800, kOwn, unicast),
                gseComplete(encap::Label6, 0x0800, kOther, unicast), // another station's
                gseComplete(encap::Label3, 0x0800, {1, 2, 3}, group),
                gseComplete(encap::Broadcast, 0x86DD, {}, group6),
                gseComplete(encap::Broadcast, 0x86DD, {}, other6),
                gseComplete(encap::Broadcast, 0x0800, {}, unicast)}));
    ASSERT_EQ(frames().size(), 5u);
    EXPECT_EQ(frames()[0], encap::ethernet(kOwn, 0x0800, unicast));
    EXPECT_EQ(frames()[1], encap::ethernet({0x01, 0x00, 0x5E, 0x41, 0x02, 0x03}, 0x0800, group))
        << "IPv4 multicast: 01:00:5E and the low 23 bits";
    EXPECT_EQ(frames()[2], encap::ethernet({0x33, 0x33, 0x12, 0x34, 0x56, 0x78}, 0x86DD, group6));
    EXPECT_EQ(frames()[3], encap::ethernet(kOwn, 0x86DD, other6)) << "unicast without label: station address";
    EXPECT_EQ(frames()[4], encap::ethernet(kOwn, 0x0800, unicast));
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(GseTest, LabelReuseTakesThePreviousLabelButNotAtTheStartOfAFrame)
{
    const Bytes d = encap::ipv4To(0x0A000001, 60);
    frame(join({gseComplete(encap::Label6, 0x0800, kBroadcast, d), gseComplete(encap::Reuse, 0x0800, {}, d)}));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[1], encap::ethernet(kBroadcast, 0x0800, d));
    // A new frame has no previous label, even though the last frame had one.
    frame(join({gseComplete(encap::Reuse, 0x0800, {}, d), gseComplete(encap::Label6, 0x0800, kOwn, d)}));
    EXPECT_EQ(frames().size(), 3u) << "the packet after the faulty one is still decoded";
    EXPECT_EQ(gseErrors(), 1u);
    EXPECT_EQ(value(g_decoder.rxErrors), 1u);
}

TEST_F(GseTest, ExtensionHeadersBridgedFramesAndLengthLimit)
{
    const Bytes d = encap::ipv4To(0x0A000001, 80);
    // Timestamp (H-LEN 3, H-Type 1): four bytes, then the next type.
    Bytes withTimestamp{0x01, 0x02, 0x03, 0x04, 0x08, 0x00};
    withTimestamp.insert(withTimestamp.end(), d.begin(), d.end());
    const Bytes inner = join({kBroadcast, Bytes{9, 9, 9, 9, 9, 9}, Bytes{0x08, 0x00}, d});
    const Bytes innerOther = join({kOther, Bytes{9, 9, 9, 9, 9, 9}, Bytes{0x08, 0x00}, d});
    const Bytes tooLong = encap::ipv4To(0x0A000001, 1507);
    const Bytes longest = encap::ipv4To(0x0A000001, 1506);
    frame(join({gseComplete(encap::Label6, 0x0301, kOwn, withTimestamp),
                gseComplete(encap::Broadcast, 0x0001, {}, inner),
                gseComplete(encap::Broadcast, 0x0001, {}, innerOther),
                gseComplete(encap::Label6, 0x0042, kOwn, d), // unknown mandatory
                gseComplete(encap::Label6, 0x0000, kOwn, d), // test PDU: dropped quietly
                gseComplete(encap::Label6, 0x0800, kOwn, tooLong),
                gseComplete(encap::Label6, 0x0800, kOwn, longest)}));
    ASSERT_EQ(frames().size(), 3u);
    EXPECT_EQ(frames()[0], encap::ethernet(kOwn, 0x0800, d)) << "optional extension header skipped";
    EXPECT_EQ(frames()[1], inner) << "bridged: the inner frame as it is";
    EXPECT_EQ(frames()[2].size(), 1520u);
    EXPECT_EQ(gseErrors(), 1u);
    EXPECT_EQ(value(g_decoder.rxLengthErrors), 1u);
}

TEST_F(GseTest, PaddingEndsTheDataFieldAndTruncatedPacketsAreCounted)
{
    const Bytes d = encap::ipv4To(0x0A000001, 60);
    Bytes field = join({gseComplete(encap::Label6, 0x0800, kOwn, d), Bytes(20, 0x00),
                        gseComplete(encap::Label6, 0x0800, kOwn, d)});
    frame(field);
    EXPECT_EQ(frames().size(), 1u) << "nothing after padding is read";
    Bytes cut = gseComplete(encap::Label6, 0x0800, kOwn, d);
    cut.resize(cut.size() - 1);
    frame(join({gseComplete(encap::Label6, 0x0800, kOwn, d), cut}));
    EXPECT_EQ(frames().size(), 2u);
    EXPECT_EQ(gseErrors(), 1u) << "a GSE length past the data field";
}

TEST_F(GseTest, FragmentsAreReassembledAcrossFramesAndCheckedByCrc)
{
    const Bytes a = encap::ipv4To(0x0A000001, 1400, 5);
    const Bytes b = encap::ipv6To(0xFF, 0x01020304, 700, 6);
    const auto fa = encap::gseFragments(7, encap::Label6, 0x0800, kOwn, a, {500, 500});
    const auto fb = encap::gseFragments(9, encap::Broadcast, 0x86DD, {}, b, {300});
    ASSERT_EQ(fa.size(), 3u);
    // Interleaved, the middle fragment of `a` in a frame of its own.
    frame(join({fa[0], fb[0]}));
    frame(fa[1]);
    frame(join({fb[1], fa[2]}));
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], encap::ethernet({0x33, 0x33, 1, 2, 3, 4}, 0x86DD, b));
    EXPECT_EQ(frames()[1], encap::ethernet(kOwn, 0x0800, a));
    EXPECT_EQ(errorCounters(), noErrors());

    const auto broken = encap::gseFragments(7, encap::Label6, 0x0800, kOwn, a, {700}, true);
    frame(join({broken[0], broken[1]}));
    EXPECT_EQ(frames().size(), 2u);
    EXPECT_EQ(gseErrors(), 1u) << "CRC-32 of the reassembled PDU";
}

TEST_F(GseTest, ReassembliesThatCannotCompleteAreAbandonedAndCounted)
{
    const Bytes a = encap::ipv4To(0x0A000001, 600, 5);
    const auto f = encap::gseFragments(1, encap::Label6, 0x0800, kOwn, a, {200});
    // Restarted on the same fragment ID: the first one is given up.
    frame(f[0]);
    frame(f[0]);
    frame(f[1]);
    EXPECT_EQ(frames().size(), 1u);
    EXPECT_EQ(gseErrors(), 1u);
    // Never completed: given up 256 frames after its start.
    const auto g = encap::gseFragments(2, encap::Label6, 0x0800, kOwn, a, {200});
    frame(g[0]);
    for (int i = 0; i < 255; ++i)
        frame({});
    EXPECT_EQ(gseErrors(), 1u);
    frame({});
    EXPECT_EQ(gseErrors(), 2u);
    frame(g[1]);
    EXPECT_EQ(frames().size(), 1u) << "an end without its start is dropped";
    // All 256 fragment IDs at once, 16 fragments a frame.
    for (int part = 0; part < 2; ++part)
        for (int first = 0; first < 256; first += 16) {
            Bytes field;
            for (int id = first; id < first + 16; ++id)
                encap::append(field, encap::gseFragments(static_cast<uint8_t>(id), encap::Label6, 0x0800, kOwn, a,
                                                         {200})[static_cast<size_t>(part)]);
            frame(field);
        }
    EXPECT_EQ(frames().size(), 257u);
    EXPECT_EQ(gseErrors(), 2u);
}

TEST_F(GseTest, EachInputStreamReassemblesOnItsOwnAndOneCanBeChosen)
{
    const Bytes a = encap::ipv4To(0x0A000001, 500, 1);
    const Bytes b = encap::ipv4To(0x0A000002, 400, 2);
    const auto fa = encap::gseFragments(3, encap::Label6, 0x0800, kOwn, a, {100});
    const auto fb = encap::gseFragments(3, encap::Label6, 0x0800, kOwn, b, {100});
    frame(fa[0], encap::kGsMulti, 1);
    frame(fb[0], encap::kGsMulti, 2);
    frame(fb[1], encap::kGsMulti, 2);
    frame(fa[1], encap::kGsMulti, 1);
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(frames()[0], encap::ethernet(kOwn, 0x0800, b));
    EXPECT_EQ(frames()[1], encap::ethernet(kOwn, 0x0800, a));
    setInputStreamFilter(2);
    frame(gseComplete(encap::Label6, 0x0800, kOwn, a), encap::kGsMulti, 1);
    frame(gseComplete(encap::Label6, 0x0800, kOwn, b), encap::kGsMulti, 2);
    ASSERT_EQ(frames().size(), 3u);
    EXPECT_EQ(frames()[2], encap::ethernet(kOwn, 0x0800, b));
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(GseTest, BasebandHeaderChecks)
{
    const Bytes d = encap::ipv4To(0x0A000001, 60);
    const Bytes field = gseComplete(encap::Label6, 0x0800, kOwn, d);
    Bytes f = encap::bbFrame(encap::kGsSingle, 0, field);
    f[9] ^= 0x01;
    decodeBasebandFrame(f.data(), f.size()); // CRC-8
    f = encap::bbFrame(encap::kGsSingle, 0, field);
    decodeBasebandFrame(f.data(), f.size() - 1); // data field past the frame
    f = encap::bbFrame(0xF0, 0, field);          // transport stream frames are not GSE
    decodeBasebandFrame(f.data(), f.size());
    EXPECT_EQ(bbErrors(), 2u);
    EXPECT_TRUE(frames().empty());
    f = encap::bbFrame(encap::kGsSingle, 0, field, 100); // padded to a longer frame
    decodeBasebandFrame(f.data(), f.size());
    EXPECT_EQ(frames().size(), 1u);
}

TEST_F(GseTest, RawFramesAreFoundByTheirCrcInPiecesOfAnySize)
{
    Bytes file;
    std::vector<Bytes> expected;
    for (int i = 0; i < 38; ++i) {
        const Bytes d = encap::ipv4To(0x0A000001, 100 + 37 * i, static_cast<uint8_t>(i));
        expected.push_back(encap::ethernet(kOwn, 0x0800, d));
        encap::append(file, encap::bbFrame(encap::kGsSingle, 0, gseComplete(encap::Label6, 0x0800, kOwn, d),
                                           static_cast<size_t>(i * 13 % 50)));
    }
    std::mt19937 random(5);
    for (int round = 0; round < 3; ++round) {
        capture().frames.clear();
        auto scanner = std::make_unique<BasebandFrameScanner>();
        size_t at = 0;
        while (at < file.size()) {
            const size_t n = std::min<size_t>(file.size() - at, 1 + random() % (round == 0 ? 7 : 3000));
            scanner->feed(file.data() + at, n);
            at += n;
        }
        EXPECT_TRUE(frames() == expected) << "round " << round << ": " << frames().size() << " frames";
    }
    EXPECT_EQ(errorCounters(), noErrors());
}

TEST_F(GseTest, PseudoTransportStreamOnEitherPidNeedsNoSlotAndDropsDamagedFrames)
{
    std::vector<Bytes> expected;
    auto frameOf = [&](int i, bool keep) {
        const Bytes d = encap::ipv4To(0x0A000001, 300 + 100 * i, static_cast<uint8_t>(i));
        if (keep)
            expected.push_back(encap::ethernet(kOwn, 0x0800, d));
        return encap::bbFrame(encap::kGsSingle, 0, gseComplete(encap::Label6, 0x0800, kOwn, d));
    };
    int cc = 0;
    feed(encap::pseudoTs(0x010E, frameOf(0, true), cc));
    auto lost = encap::pseudoTs(0x010E, frameOf(1, false), cc);
    lost.erase(lost.begin() + 1); // a payload packet lost
    feed(lost);
    feed(encap::pseudoTs(0x010E, frameOf(2, true), cc));
    auto damaged = encap::pseudoTs(0x010E, frameOf(3, false), cc);
    damaged[2][1] |= 0x80; // transport error indicator
    feed(damaged);
    auto cut = encap::pseudoTs(0x010E, frameOf(4, false), cc);
    cut.pop_back(); // its end lost: the next header shows it
    feed(cut);
    int cc2 = 5;
    feed(encap::pseudoTs(0x0118, frameOf(5, true), cc2));
    feed(encap::pseudoTs(0x010E, frameOf(6, true), cc));
    EXPECT_EQ(frames(), expected);
    EXPECT_EQ(bbErrors(), 3u);
    EXPECT_EQ(value(g_decoder.rxErrors), 3u);

    setBasebandFramePids(0x0200, -1);
    feed(encap::pseudoTs(0x010E, frameOf(7, false), cc));
    int cc3 = 0;
    feed(encap::pseudoTs(0x0200, frameOf(8, true), cc3));
    EXPECT_EQ(frames(), expected);
}

} // namespace
