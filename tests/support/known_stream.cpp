#include "tests/support/known_stream.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace teststream {

namespace {

struct Destination {
    tsgen::MacAddress mac;
    uint32_t ip;
    bool forUs;
};

Frame ethernetFrame(const tsgen::MacAddress& destination, const std::vector<uint8_t>& datagram)
{
    Frame frame(destination.begin(), destination.end());
    frame.resize(12, 0); // the decoder leaves the source address zero
    frame.push_back(0x08);
    frame.push_back(0x00);
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    return frame;
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

std::string describe(const Frame& frame)
{
    std::ostringstream out;
    out << frame.size() << " bytes";
    if (frame.size() >= 14 + 28 + 8) {
        uint64_t sequence = 0;
        for (int k = 0; k < 8; ++k)
            sequence = sequence << 8 | frame[14 + 28 + k];
        out << ", sequence " << sequence;
    }
    char mac[32];
    if (frame.size() >= 6) {
        std::snprintf(mac, sizeof mac, ", to %02X:%02X:%02X:%02X:%02X:%02X", frame[0], frame[1], frame[2], frame[3],
                      frame[4], frame[5]);
        out << mac;
    }
    return out.str();
}

} // namespace

KnownStream makeKnownStream(const tsgen::MacAddress& station, int datagrams, unsigned seed)
{
    const Destination destinations[] = {
        {station, 0x0A000002u, true},
        {{0x01, 0x00, 0x5E, 0x01, 0x01, 0x01}, 0xEF010101u, true},
        {{0x01, 0x00, 0x5E, 0x7F, 0x00, 0x05}, 0xEFFF0005u, true},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu, true},
        {{0x02, 0x99, 0x88, 0x77, 0x66, 0x55}, 0x0A000063u, false},
    };
    KnownStream stream;
    stream.selectedPids = {0x100, 0x101, 0x102};
    std::vector<tsgen::MpeStreamWriter> writers{tsgen::MpeStreamWriter(0x100), tsgen::MpeStreamWriter(0x101),
                                                tsgen::MpeStreamWriter(0x102), tsgen::MpeStreamWriter(0x103)};
    writers[1].setPacked(false); // one PID with a section per packet start, as some muxes send
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> sizes(8, 1472);
    std::vector<uint8_t>& ts = stream.transportStream;
    std::vector<uint8_t> payload(1472);
    uint8_t patContinuity = 0;
    tsgen::writePat(ts, patContinuity);
    for (int sequence = 0; sequence < datagrams; ++sequence) {
        const size_t n = sizes(random);
        for (size_t k = 0; k < n; ++k)
            payload[k] = static_cast<uint8_t>(random());
        for (int k = 0; k < 8; ++k)
            payload[k] = static_cast<uint8_t>(uint64_t(sequence) >> (8 * (7 - k)));
        const Destination& to = destinations[sequence % 5];
        const auto datagram = tsgen::makeUdpDatagram(0x0A000001u, to.ip, 40000, 4000 + sequence % 7, payload.data(), n);
        // Every seventh datagram for this station goes on the PID nobody selected.
        const bool unselected = to.forUs && sequence % 7 == 3;
        writers[unselected ? 3 : sequence % 3].writeSection(to.mac, datagram.data(), datagram.size(), ts);
        if (to.forUs && !unselected)
            stream.expectedFrames.push_back(ethernetFrame(to.mac, datagram));
        else
            ++stream.otherDatagrams;
        if (sequence % 40 == 39) {
            tsgen::writePat(ts, patContinuity);
            for (int k = 0; k < 3; ++k)
                tsgen::writeNullPacket(ts);
        }
    }
    for (auto& writer : writers)
        writer.flush(ts);
    return stream;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool readPcapFrames(const std::string& path, std::vector<Frame>* frames, std::string* why)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    frames->clear();
    if (bytes.size() < 24 || le32(bytes.data()) != 0xA1B2C3D4u || le32(bytes.data() + 20) != 1) {
        *why = path + " is not a pcap file of Ethernet frames (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    for (size_t at = 24; at < bytes.size();) {
        if (bytes.size() - at < 16) {
            *why = "incomplete record header at " + std::to_string(at);
            return false;
        }
        const uint32_t included = le32(&bytes[at + 8]);
        at += 16;
        if (bytes.size() - at < included) {
            *why = "incomplete record at " + std::to_string(at);
            return false;
        }
        frames->emplace_back(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + included));
        at += included;
    }
    return true;
}

std::string differences(const std::vector<Frame>& expected, const std::vector<Frame>& got)
{
    std::vector<Frame> want = expected, have = got;
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    std::vector<Frame> missing, extra;
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(), std::back_inserter(missing));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(), std::back_inserter(extra));
    if (missing.empty() && extra.empty())
        return {};
    std::ostringstream out;
    out << "expected " << expected.size() << " frames, got " << got.size() << "; " << missing.size()
        << " missing, " << extra.size() << " unexpected";
    if (!missing.empty())
        out << "\n  first missing: " << describe(missing.front());
    if (!extra.empty())
        out << "\n  first unexpected: " << describe(extra.front());
    return out.str();
}

} // namespace teststream
