// The receiver end to end beyond MPE: the simulated card plays one transport
// stream holding GSE in baseband frames (the cards' pseudo transport stream on
// PID 0x010E) and ULE on PID 512, the PID added as ULE in the settings. Both
// reach the capture file, and the statistics window counts what was damaged.
#include "receiver_process.h"

#include "drivers/tsgen/bbframe.h"
#include "drivers/tsgen/bbframe_ts.h"
#include "drivers/tsgen/gse.h"
#include "drivers/tsgen/ule_stream.h"

#include <QRegularExpression>

#include <random>

namespace {

using teststream::Frame;
using tsgen::MacAddress;

const MacAddress kStation{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const MacAddress kOther{0x02, 0x99, 0x88, 0x77, 0x66, 0x55};
const MacAddress kBroadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const MacAddress kBridgeSource{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr uint16_t kUlePid = 512;

// What the adapter gets for an IPv4 datagram: destination, zero source, 0x0800.
Frame ethernetFrame(const MacAddress& destination, const MacAddress& source, const std::vector<uint8_t>& datagram)
{
    Frame frame(destination.begin(), destination.end());
    frame.insert(frame.end(), source.begin(), source.end());
    frame.push_back(0x08);
    frame.push_back(0x00);
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    return frame;
}

MacAddress multicastMac(uint32_t ip)
{
    return {0x01, 0x00, 0x5E, static_cast<uint8_t>(ip >> 16 & 0x7F), static_cast<uint8_t>(ip >> 8),
            static_cast<uint8_t>(ip)};
}

// Numbered datagrams of varying sizes.
class Datagrams {
public:
    std::vector<uint8_t> next(uint32_t destinationIp)
    {
        std::vector<uint8_t> payload(sizes_(random_));
        for (size_t k = 0; k < payload.size(); ++k)
            payload[k] = static_cast<uint8_t>(k < 8 ? sequence_ >> (8 * (7 - k)) : random_());
        ++sequence_;
        return tsgen::makeUdpDatagram(0x0A000001u, destinationIp, 40000, 4000, payload.data(), payload.size());
    }

private:
    std::mt19937 random_{21};
    std::uniform_int_distribution<size_t> sizes_{8, 1400};
    uint64_t sequence_ = 0;
};

struct Stream {
    std::vector<uint8_t> gsePackets, ulePackets;
    std::vector<Frame> expected;
};

// GSE in short frames of rate 1/2 (869-byte data fields: the larger datagrams
// are fragmented over two frames): labelled for this station, a multicast
// group, broadcast and another station, unlabelled to a group, a bridged
// frame; then a frame with a damaged header and one whose fragmented PDU has
// a wrong CRC-32.
void addGse(Datagrams& datagrams, Stream& s)
{
    constexpr size_t kFrame = tsgen::kShortFrameRate1_2;
    tsgen::BbFrameTsWriter writer(tsgen::kBbFramePid);
    tsgen::GseFramer framer(kFrame - tsgen::kBbHeaderSize);
    std::vector<std::vector<uint8_t>> fields;
    auto send = [&](std::vector<std::vector<uint8_t>>& ready) {
        for (const auto& field : ready) {
            const auto frame = tsgen::makeBbFrame(field.data(), field.size(), kFrame);
            writer.writeFrame(frame.data(), frame.size(), s.gsePackets);
        }
        ready.clear();
    };
    for (int i = 0; i < 60; ++i) {
        tsgen::GsePdu pdu;
        pdu.labelType = tsgen::GseLabelType::SixByte;
        uint32_t ip = 0x0A000002u;
        MacAddress to = kStation;
        switch (i % 6) {
        case 1: ip = 0xEF010101u; to = multicastMac(ip); break;
        case 2: ip = 0xEF010102u; to = multicastMac(ip); pdu.labelType = tsgen::GseLabelType::None; break;
        case 3: ip = 0xFFFFFFFFu; to = kBroadcast; break;
        case 4: ip = 0x0A000063u; to = kOther; break;
        default: break;
        }
        const auto datagram = datagrams.next(ip);
        std::copy(to.begin(), to.end(), pdu.label.begin());
        if (i % 6 == 5) {
            pdu.type = {tsgen::kTypeBridged, {}};
            pdu.data = ethernetFrame(kStation, kBridgeSource, datagram);
            s.expected.push_back(pdu.data);
        } else {
            pdu.type = {tsgen::kTypeIpv4, {}};
            pdu.data = datagram;
            if (i % 6 != 4)
                s.expected.push_back(ethernetFrame(to, {}, datagram));
        }
        framer.add(pdu, fields);
        send(fields);
    }
    framer.flush(fields);
    send(fields);

    // A whole PDU for this station in a frame whose header CRC-8 is wrong.
    const auto lost = datagrams.next(0x0A000002u);
    tsgen::GsePacket whole;
    whole.labelType = tsgen::GseLabelType::SixByte;
    whole.protocolType = tsgen::kTypeIpv4;
    std::copy(kStation.begin(), kStation.end(), whole.label.begin());
    whole.data = lost.data();
    whole.length = lost.size();
    std::vector<uint8_t> field;
    tsgen::appendGsePacket(whole, field);
    auto frame = tsgen::makeBbFrame(field.data(), field.size(), kFrame);
    frame[9] ^= 0x01;
    writer.writeFrame(frame.data(), frame.size(), s.gsePackets);

    // A PDU in two fragments of one frame, its CRC-32 wrong.
    field.clear();
    tsgen::GsePacket first = whole;
    first.end = false;
    first.fragId = 7;
    first.totalLength = static_cast<uint16_t>(2 + 6 + lost.size());
    first.length = 100;
    tsgen::appendGsePacket(first, field);
    tsgen::GsePacket last;
    last.start = false;
    last.labelType = tsgen::GseLabelType::ReUse;
    last.fragId = 7;
    last.data = lost.data() + 100;
    last.length = lost.size() - 100;
    last.crc = 0x12345678;
    tsgen::appendGsePacket(last, field);
    frame = tsgen::makeBbFrame(field.data(), field.size(), kFrame);
    writer.writeFrame(frame.data(), frame.size(), s.gsePackets);

    // A frame of padding closes the last one for a reader that waits for the next.
    const std::vector<uint8_t> padding(16, 0);
    frame = tsgen::makeBbFrame(padding.data(), padding.size(), 0);
    writer.writeFrame(frame.data(), frame.size(), s.gsePackets);
}

// ULE on PID 512, packed: with and without destination address, to this
// station, a group, another station, a bridged frame, an optional extension
// header to skip; an SNDU with a wrong CRC-32 and a good one after it.
void addUle(Datagrams& datagrams, Stream& s)
{
    tsgen::UleStreamWriter writer(kUlePid);
    auto send = [&](const tsgen::TypeChain& type, const MacAddress* to, const std::vector<uint8_t>& pdu) {
        const auto sndu = tsgen::makeSndu(type, to, pdu.data(), pdu.size());
        writer.writeSndu(sndu.data(), sndu.size(), s.ulePackets);
    };
    const tsgen::TypeChain ipv4{tsgen::kTypeIpv4, {}};
    for (int i = 0; i < 49; ++i) {
        switch (i % 7) {
        case 0: {
            const auto d = datagrams.next(0x0A000002u);
            send(ipv4, &kStation, d);
            s.expected.push_back(ethernetFrame(kStation, {}, d));
            break;
        }
        case 1: {
            const auto d = datagrams.next(0xEF010104u);
            const MacAddress group = multicastMac(0xEF010104u);
            send(ipv4, &group, d);
            s.expected.push_back(ethernetFrame(group, {}, d));
            break;
        }
        case 2: {
            const auto d = datagrams.next(0xEF010103u);
            send(ipv4, nullptr, d);
            s.expected.push_back(ethernetFrame(multicastMac(0xEF010103u), {}, d));
            break;
        }
        case 3:
            send(ipv4, &kOther, datagrams.next(0x0A000063u));
            break;
        case 4: {
            const Frame inner = ethernetFrame(kBroadcast, kBridgeSource, datagrams.next(0xFFFFFFFFu));
            send({tsgen::kTypeBridged, {}}, nullptr, inner);
            s.expected.push_back(inner);
            break;
        }
        case 5: {
            const auto d = datagrams.next(0x0A000002u);
            send(tsgen::withOptionalHeader(ipv4, 0x00, {0x00, 0x00}), &kStation, d);
            s.expected.push_back(ethernetFrame(kStation, {}, d));
            break;
        }
        default: {
            // No address, unicast IP: the station's own address.
            const auto d = datagrams.next(0x0A000002u);
            send(ipv4, nullptr, d);
            s.expected.push_back(ethernetFrame(kStation, {}, d));
            break;
        }
        }
    }
    const auto damaged = datagrams.next(0x0A000002u);
    auto sndu = tsgen::makeSndu(ipv4, &kStation, damaged.data(), damaged.size());
    sndu.back() ^= 0xFF;
    writer.writeSndu(sndu.data(), sndu.size(), s.ulePackets);
    const auto after = datagrams.next(0x0A000002u);
    send(ipv4, &kStation, after);
    s.expected.push_back(ethernetFrame(kStation, {}, after));
    writer.flush(s.ulePackets);
}

// A PAT, then the packets of both PIDs in turn.
std::vector<uint8_t> interleave(const Stream& s)
{
    std::vector<uint8_t> ts;
    uint8_t continuity = 0;
    tsgen::writePat(ts, continuity);
    const size_t a = s.gsePackets.size() / 188, b = s.ulePackets.size() / 188;
    for (size_t i = 0; i < std::max(a, b); ++i) {
        if (i < a)
            ts.insert(ts.end(), s.gsePackets.begin() + 188 * i, s.gsePackets.begin() + 188 * (i + 1));
        if (i < b)
            ts.insert(ts.end(), s.ulePackets.begin() + 188 * i, s.ulePackets.begin() + 188 * (i + 1));
    }
    return ts;
}

TEST_F(KestIpDataProcess, DeliversGseFromBasebandFramesAndUleAtOnceAndCountsTheirErrors)
{
    Datagrams datagrams;
    Stream stream;
    addGse(datagrams, stream);
    addUle(datagrams, stream);
    const QString ts = home_.filePath("gse-ule.ts"), pcap = home_.filePath("out.pcap");
    ASSERT_TRUE(teststream::writeFile(ts.toStdString(), interleave(stream)));
    QDir(home_.path()).mkpath("config/KestGroup");
    QFile settings(home_.filePath("config/KestGroup/Kest-IPData.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Settings]\nActivePIDs=\nULEPIDs=512\\n\nMPEFilter=0\n");
    settings.close();
    env_.insert("KEST_SIM_TS", ts);
    env_.insert("KEST_SIM_LOOP", "0");
    env_.insert("KEST_SIM_RATE", "0");
    env_.insert("KEST_SIM_MAC", "02:11:22:33:44:55");
    env_.insert("KEST_SATNIC", "pcap:" + pcap);
    env_.insert("KEST_SCREENSHOT_DIR", home_.filePath("shots"));
    env_.insert("KEST_SCREENSHOT_AFTER", "4"); // the stream played, a few status polls
    env_.insert("LC_ALL", "C");

    QProcess process;
    start(process);
    expectCleanEnd(process);
    std::vector<Frame> frames;
    std::string why;
    ASSERT_TRUE(teststream::readPcapFrames(pcap.toStdString(), &frames, &why)) << why;
    EXPECT_EQ(teststream::differences(stream.expected, frames), "")
        << "every GSE and ULE PDU for this station, its groups and broadcast, each once";

    QFile statistics(home_.filePath("shots/C-statistics.txt"));
    ASSERT_TRUE(statistics.open(QIODevice::ReadOnly));
    const QString shown = QString::fromUtf8(statistics.readAll());
    for (const char* line : {"BBFrame errors: 1\n", "GSE errors: 1\n", "ULE errors: 1\n", "Continuity errors: 0\n",
                             "CRC errors: 0\n", "TOTAL errors: 3\n"})
        EXPECT_TRUE(shown.contains(line)) << line << " in:\n" << shown.toStdString();
    EXPECT_TRUE(shown.contains("PID 270 ")) << "the pseudo transport stream's PID";
    EXPECT_TRUE(shown.contains(QRegularExpression("PID 512 \\d+ \\S+ Active\n"))) << shown.toStdString();

    QFile tooltip(home_.filePath("shots/C-tooltip.txt"));
    ASSERT_TRUE(tooltip.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(tooltip.readAll());
    EXPECT_TRUE(text.contains("Status: Locked\nIN: ")) << text.toStdString();
    EXPECT_FALSE(text.contains("IN: 0.000 MB")) << "the adapter's byte count holds the GSE and ULE frames";
}

} // namespace
