// The stream writers against bytes worked out by hand from the field layouts
// of GSE, DVB-S2 baseband frames, the cards' pseudo transport stream and ULE.
#include "drivers/tsgen/bbframe.h"
#include "drivers/tsgen/bbframe_ts.h"
#include "drivers/tsgen/gse.h"
#include "drivers/tsgen/mpe_stream.h"
#include "drivers/tsgen/ule_stream.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes range(size_t n, uint8_t first = 0)
{
    Bytes b(n);
    std::iota(b.begin(), b.end(), first);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes slice(const Bytes& b, size_t from, size_t n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

const tsgen::GseLabel kLabel{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(BasebandFrame, HeaderCarriesItsFieldsAndTheDvbS2Crc8)
{
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(tsgen::crc8Dvb(check.data(), check.size()), 0xBC) << "the catalogued check value of CRC-8/DVB-S2";

    // Single generic continuous stream, CCM, 400 data bytes: DFL 3200 bits.
    const Bytes data = range(400);
    const Bytes frame = tsgen::makeBbFrame(data.data(), data.size(), tsgen::kShortFrameRate1_2);
    ASSERT_EQ(frame.size(), 879u) << "padded to Kbch 7032 / 8";
    EXPECT_EQ(slice(frame, 0, 10), (Bytes{0x70, 0x00, 0x00, 0x00, 0x0C, 0x80, 0x00, 0x00, 0x00, 0x1E}));
    EXPECT_EQ(slice(frame, 10, 400), data);
    EXPECT_EQ(slice(frame, 410, 469), Bytes(469, 0x00));
    // Input stream 7 of a multistream: SIS/MIS cleared, the ISI in MATYPE-2.
    const Bytes multi = tsgen::makeBbFrame(data.data(), data.size(), 0, 7);
    EXPECT_EQ(slice(multi, 0, 10), (Bytes{0x50, 0x07, 0x00, 0x00, 0x0C, 0x80, 0x00, 0x00, 0x00, 0x63}));
    EXPECT_EQ(multi.size(), 410u) << "no padding asked for";
}

TEST(Gse, WholePacketsWithEachLabelType)
{
    const Bytes pdu{0x45, 0x00, 0x00, 0x04};
    tsgen::GsePacket p;
    p.protocolType = tsgen::kTypeIpv4;
    p.label = kLabel;
    p.data = pdu.data();
    p.length = pdu.size();
    const struct {
        tsgen::GseLabelType type;
        Bytes expected;
    } cases[] = {
        {tsgen::GseLabelType::SixByte, {0xC0, 0x0C, 0x08, 0x00, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x45, 0, 0, 4}},
        {tsgen::GseLabelType::ThreeByte, {0xD0, 0x09, 0x08, 0x00, 0x02, 0x11, 0x22, 0x45, 0, 0, 4}},
        {tsgen::GseLabelType::None, {0xE0, 0x06, 0x08, 0x00, 0x45, 0, 0, 4}},
        {tsgen::GseLabelType::ReUse, {0xF0, 0x06, 0x08, 0x00, 0x45, 0, 0, 4}},
    };
    for (const auto& c : cases) {
        p.labelType = c.type;
        Bytes out;
        tsgen::appendGsePacket(p, out);
        EXPECT_EQ(out, c.expected) << "label type " << int(c.type);
    }
}

// A PDU too large for the data field goes in a first fragment (Frag_ID,
// Total_Length) and an end fragment with the CRC-32 of the whole PDU.
TEST(Gse, FramerFragmentsAcrossDataFieldsWithTotalLengthAndCrc)
{
    tsgen::GseFramer framer(64);
    tsgen::GsePdu pdu;
    pdu.labelType = tsgen::GseLabelType::SixByte;
    pdu.label = kLabel;
    pdu.data = range(100);
    std::vector<Bytes> fields;
    framer.add(pdu, fields);
    framer.flush(fields);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0], cat({{0x80, 0x3E, 0x00, 0x00, 0x6C, 0x08, 0x00}, Bytes(kLabel.begin(), kLabel.end()),
                              range(51)}))
        << "S=1 E=0, GSE_Length 62, Frag_ID 0, Total_Length 108";
    EXPECT_EQ(fields[1], cat({{0x70, 0x36, 0x00}, range(49, 51), {0xD1, 0x17, 0x25, 0x57}}))
        << "S=0 E=1, GSE_Length 54, the rest and the CRC-32";

    // The next fragmented PDU takes the next Frag_ID.
    fields.clear();
    framer.add(pdu, fields);
    framer.flush(fields);
    ASSERT_FALSE(fields.empty());
    EXPECT_EQ(fields[0][2], 0x01);
}

TEST(Gse, FramerReusesALabelOnlyInsideOneFieldAndPadsWhenAsked)
{
    tsgen::GseFramer framer(64);
    framer.setLabelReuse(true);
    framer.setPadFields(true);
    tsgen::GsePdu pdu;
    pdu.labelType = tsgen::GseLabelType::ThreeByte;
    pdu.label = kLabel;
    pdu.data = {0x45, 0x01};
    std::vector<Bytes> fields;
    for (int i = 0; i < 11; ++i)
        framer.add(pdu, fields);
    framer.flush(fields);
    const Bytes labelled{0xD0, 0x07, 0x08, 0x00, 0x02, 0x11, 0x22, 0x45, 0x01};
    const Bytes reused{0xF0, 0x04, 0x08, 0x00, 0x45, 0x01};
    ASSERT_EQ(fields.size(), 2u);
    Bytes first = labelled;
    for (int i = 0; i < 9; ++i)
        first = cat({first, reused});
    EXPECT_EQ(fields[0], cat({first, {0x00}})) << "63 bytes of packets, one of padding";
    EXPECT_EQ(fields[1], cat({labelled, Bytes(55, 0x00)})) << "a field starts with the label itself";
}

// The layout of the pseudo transport stream, packet by packet.
TEST(BasebandFrameTs, FrameCutIntoPrivateSectionsOneAPacket)
{
    const Bytes frame = range(410, 1);
    tsgen::BbFrameTsWriter writer;
    Bytes ts;
    writer.writeFrame(frame.data(), frame.size(), ts);
    ASSERT_EQ(ts.size(), 3 * 188u);
    EXPECT_EQ(slice(ts, 0, 188), cat({{0x47, 0x41, 0x0E, 0x10, 0x00, 0x80, 0x00, 0xB4, 0xB8}, slice(frame, 0, 179)}));
    EXPECT_EQ(slice(ts, 188, 188),
              cat({{0x47, 0x41, 0x0E, 0x11, 0x00, 0x80, 0x00, 0xB4, 0x01}, slice(frame, 179, 179)}));
    EXPECT_EQ(slice(ts, 376, 188), cat({{0x47, 0x41, 0x0E, 0x12, 0x00, 0x80, 0x00, 0x35, 0x02}, slice(frame, 358, 52),
                                        Bytes(127, 0xFF)}))
        << "the last packet: section length 1 + 52, then fill";

    // A frame that fits the first packet; the other driver's PID.
    tsgen::BbFrameTsWriter other(tsgen::kBbFramePidOther);
    ts.clear();
    other.writeFrame(frame.data(), 20, ts);
    EXPECT_EQ(ts, cat({{0x47, 0x41, 0x18, 0x10, 0x00, 0x80, 0x00, 0x15, 0xB8}, slice(frame, 0, 20), Bytes(159, 0xFF)}));
}

TEST(Ule, SnduWithAndWithoutDestinationAndItsCrc)
{
    const Bytes pdu{0x45, 0x00, 0x00, 0x08, 0x01, 0x02, 0x03, 0x04};
    const std::array<uint8_t, 6> station{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(tsgen::makeSndu({tsgen::kTypeIpv4, {}}, &station, pdu.data(), pdu.size()),
              cat({{0x00, 0x12, 0x08, 0x00}, Bytes(station.begin(), station.end()), pdu, {0x26, 0xEE, 0x76, 0x9C}}))
        << "D=0, Length 6 + 8 + 4";
    EXPECT_EQ(tsgen::makeSndu({tsgen::kTypeIpv6, {}}, nullptr, pdu.data(), pdu.size()),
              cat({{0x80, 0x0C, 0x86, 0xDD}, pdu, {0xC7, 0x2D, 0x74, 0x64}}))
        << "D=1, Length 8 + 4";

    // An optional extension header (H-LEN 2, H-Type 0x05: four bytes, then the
    // next type) and a bridged frame behind it.
    const tsgen::TypeChain chain =
        tsgen::withOptionalHeader({tsgen::kTypeBridged, {}}, 0x05, {0xA1, 0xA2});
    EXPECT_EQ(chain.firstType, 0x0205);
    EXPECT_EQ(chain.headers, (Bytes{0xA1, 0xA2, 0x00, 0x01}));
    const tsgen::TypeChain mandatory = tsgen::withMandatoryHeader({tsgen::kTypeIpv4, {}}, 0x7F, {});
    EXPECT_EQ(mandatory.firstType, 0x007F);
    EXPECT_EQ(mandatory.headers, (Bytes{0x08, 0x00}));
}

// Packed SNDUs: the payload pointer names the first SNDU that starts in a
// packet; a packet with no room for a Length field ends in padding.
TEST(Ule, StreamPacksSndusWithPayloadPointersAndPadding)
{
    tsgen::UleStreamWriter writer(0x0777);
    const Bytes a = range(200), b = range(181, 100), c = range(10, 50);
    Bytes ts;
    writer.writeSndu(a.data(), a.size(), ts);
    writer.writeSndu(b.data(), b.size(), ts);
    writer.writeSndu(c.data(), c.size(), ts);
    writer.flush(ts);
    ASSERT_EQ(ts.size(), 3 * 188u);
    EXPECT_EQ(slice(ts, 0, 188), cat({{0x47, 0x47, 0x77, 0x10, 0x00}, slice(a, 0, 183)}));
    // A ends 17 bytes into the next packet, where B starts: pointer 17.
    EXPECT_EQ(slice(ts, 188, 188), cat({{0x47, 0x47, 0x77, 0x11, 0x11}, slice(a, 183, 17), slice(b, 0, 166)}));
    // B's last 15 bytes leave 169 bytes; C starts behind them (pointer 15) and ends with padding.
    EXPECT_EQ(slice(ts, 376, 188), cat({{0x47, 0x47, 0x77, 0x12, 0x0F}, slice(b, 166, 15), c, Bytes(158, 0xFF)}));

    // Unpacked: every SNDU in packets of its own.
    tsgen::UleStreamWriter unpacked(0x0100);
    unpacked.setPacked(false);
    ts.clear();
    unpacked.writeSndu(c.data(), c.size(), ts);
    unpacked.writeSndu(c.data(), c.size(), ts);
    ASSERT_EQ(ts.size(), 2 * 188u);
    EXPECT_EQ(slice(ts, 188, 188), cat({{0x47, 0x41, 0x00, 0x11, 0x00}, c, Bytes(173, 0xFF)}));
}

} // namespace
