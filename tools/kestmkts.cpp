// kestmkts: writes test streams of UDP datagrams: MPE sections on PIDs, ULE
// SNDUs on PIDs, GSE in DVB-S2 baseband frames (the pseudo transport stream
// of Linux cards, or raw frames back to back), for the simulated card, the
// benchmarks and the tests. `kestmkts --help` tells the options.
#include "drivers/tsgen/bbframe.h"
#include "drivers/tsgen/bbframe_ts.h"
#include "drivers/tsgen/gse.h"
#include "drivers/tsgen/mpe_stream.h"
#include "drivers/tsgen/ule_stream.h"
#include "tools/number_argument.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char kUsage[] =
    "usage: kestmkts [--pid N]... [--ule N]... [--gse] [--bbframe-pid N] [--raw-bbframes] [--isi N]...\n"
    "                [--frame-size BYTES] [--label 6|3|none] [--label-reuse] [--no-address] [--bridged]\n"
    "                [--bytes TOTAL] [--count N] [--payload MIN[:MAX]] [--mac XX:XX:XX:XX:XX:XX]\n"
    "                [--multicast] [--broadcast] [--unpacked] [--seed N] OUT|-\n";

const char kHelp[] =
    "Writes UDP datagrams (each payload starting with its 64-bit sequence number) to the\n"
    "station address, and with --multicast / --broadcast also to 239.1.1.1 and the broadcast\n"
    "address in turn, going round-robin over the carriers chosen:\n"
    "  --pid N           MPE sections on PID N (default 0x100, 0x101, 0x102 when no carrier is chosen)\n"
    "  --ule N           ULE SNDUs on PID N (destination address from the datagram's MAC address)\n"
    "  --gse             GSE in baseband frames, in the pseudo transport stream of PID 0x010E\n"
    "  --bbframe-pid N   that pseudo transport stream on PID N instead (e.g. 0x0118)\n"
    "  --raw-bbframes    the output is raw baseband frames back to back instead of a transport\n"
    "                    stream (GSE only)\n"
    "  --isi N           a multistream: frames of input stream N (repeat it for more streams,\n"
    "                    which take the datagrams in turn); without it one single stream\n"
    "  --frame-size B    baseband frame size in bytes, header included (default 6051: normal\n"
    "                    frame, rate 3/4); GSE packets that do not fit are fragmented\n"
    "  --label 6|3|none  GSE label: the 6-byte MAC address (default), 3 bytes of it, or none\n"
    "  --label-reuse     a label repeated in the same frame is sent as label re-use\n"
    "  --no-address      ULE SNDUs without destination address (D bit 1)\n"
    "  --bridged         GSE and ULE PDUs as bridged Ethernet frames (type 0x0001)\n"
    "  --bytes TOTAL     stop after about TOTAL bytes of output\n"
    "  --count N         stop after N datagrams\n"
    "  --payload MIN[:MAX]  UDP payload sizes (default 1372)\n"
    "  --mac MAC         the station address (default 00:00:00:00:00:00)\n"
    "  --unpacked        every MPE section and ULE SNDU starts a packet of its own\n"
    "  --seed N          seed of the payload sizes\n"
    "OUT is a file or - for standard output.\n";

void usage() { std::fputs(kUsage, stderr); }

bool parseMac(const char* text, tsgen::MacAddress& mac)
{
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(v[i]);
    return true;
}

bool parsePid(const char* text, uint16_t& pid)
{
    unsigned long long value = 0;
    if (!parseNumberArgument(text, 8191, value))
        return false;
    pid = static_cast<uint16_t>(value);
    return true;
}

// One GSE input stream: its framer and the frames it completes.
struct GseStream {
    int isi;
    tsgen::GseFramer framer;
};

struct Options {
    std::vector<uint16_t> mpePids, ulePids;
    bool gse = false, raw = false, labelReuse = false, noAddress = false, bridged = false;
    uint16_t bbPid = tsgen::kBbFramePid;
    std::vector<int> isis;
    size_t frameSize = tsgen::kNormalFrameRate3_4;
    tsgen::GseLabelType label = tsgen::GseLabelType::SixByte;
};

} // namespace

int main(int argc, char** argv)
{
    Options o;
    unsigned long long totalBytes = 0, count = 0;
    size_t minPayload = 1372, maxPayload = 1372; // 1400-byte datagrams
    tsgen::MacAddress station{0, 0, 0, 0, 0, 0};
    bool multicast = false, broadcast = false, packed = true;
    unsigned seed = 1;
    const char* outPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        uint16_t pid = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--pid") {
            if (!parsePid(value(), pid)) return usage(), 2;
            o.mpePids.push_back(pid);
        } else if (arg == "--ule") {
            if (!parsePid(value(), pid)) return usage(), 2;
            o.ulePids.push_back(pid);
        } else if (arg == "--gse") {
            o.gse = true;
        } else if (arg == "--bbframe-pid") {
            if (!parsePid(value(), o.bbPid)) return usage(), 2;
        } else if (arg == "--raw-bbframes") {
            o.raw = o.gse = true;
        } else if (arg == "--isi") {
            unsigned long long isi = 0;
            if (!parseNumberArgument(value(), 255, isi)) return usage(), 2;
            o.isis.push_back(static_cast<int>(isi));
        } else if (arg == "--frame-size") {
            unsigned long long size = 0;
            if (!parseNumberArgument(value(), 8191, size) || size < 100) return usage(), 2;
            o.frameSize = size;
        } else if (arg == "--label") {
            const char* v = value();
            const std::string l = v ? v : "";
            if (l == "6") o.label = tsgen::GseLabelType::SixByte;
            else if (l == "3") o.label = tsgen::GseLabelType::ThreeByte;
            else if (l == "none") o.label = tsgen::GseLabelType::None;
            else return usage(), 2;
        } else if (arg == "--label-reuse") {
            o.labelReuse = true;
        } else if (arg == "--no-address") {
            o.noAddress = true;
        } else if (arg == "--bridged") {
            o.bridged = true;
        } else if (arg == "--bytes") {
            if (!parseNumberArgument(value(), ~0ull, totalBytes)) return usage(), 2;
        } else if (arg == "--count") {
            if (!parseNumberArgument(value(), ~0ull, count)) return usage(), 2;
        } else if (arg == "--payload") {
            const char* v = value();
            const char* colon = v ? std::strchr(v, ':') : nullptr;
            const std::string low = v ? std::string(v, colon ? size_t(colon - v) : std::strlen(v)) : std::string();
            unsigned long long lowest = 0, highest = 0;
            if (!parseNumberArgument(low.c_str(), 1472, lowest)
                || !parseNumberArgument(colon ? colon + 1 : low.c_str(), 1472, highest)
                || lowest < 8 || highest < lowest)
                return usage(), 2;
            minPayload = lowest;
            maxPayload = highest;
        } else if (arg == "--mac") {
            const char* v = value();
            if (!v || !parseMac(v, station)) return usage(), 2;
        } else if (arg == "--multicast") {
            multicast = true;
        } else if (arg == "--broadcast") {
            broadcast = true;
        } else if (arg == "--unpacked") {
            packed = false;
        } else if (arg == "--seed") {
            unsigned long long number = 0;
            if (!parseNumberArgument(value(), ~0u, number)) return usage(), 2;
            seed = static_cast<unsigned>(number);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return usage(), 2;
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            return usage(), 2;
        }
    }
    if (!outPath || (totalBytes == 0 && count == 0)) return usage(), 2;
    // Raw frames are no transport stream: nothing else can go with them.
    if (o.raw && (!o.mpePids.empty() || !o.ulePids.empty())) return usage(), 2;
    if (o.mpePids.empty() && o.ulePids.empty() && !o.gse) o.mpePids = {0x100, 0x101, 0x102};

    FILE* out = std::strcmp(outPath, "-") == 0 ? stdout : std::fopen(outPath, "wb");
    if (!out) {
        std::fprintf(stderr, "kestmkts: cannot write %s: %s\n", outPath, std::strerror(errno));
        return 1;
    }
    std::vector<tsgen::MpeStreamWriter> mpe;
    for (uint16_t pid : o.mpePids) {
        mpe.emplace_back(pid);
        mpe.back().setPacked(packed);
    }
    std::vector<tsgen::UleStreamWriter> ule;
    for (uint16_t pid : o.ulePids) {
        ule.emplace_back(pid);
        ule.back().setPacked(packed);
    }
    std::vector<GseStream> gse;
    if (o.gse) {
        if (o.isis.empty())
            o.isis.push_back(-1);
        for (int isi : o.isis) {
            gse.push_back({isi, tsgen::GseFramer(o.frameSize - tsgen::kBbHeaderSize)});
            gse.back().framer.setLabelReuse(o.labelReuse);
        }
    }
    tsgen::BbFrameTsWriter bbTs(o.bbPid);
    const size_t carriers = mpe.size() + ule.size() + gse.size();

    std::vector<uint8_t> buffer, payload(1472);
    std::vector<std::vector<uint8_t>> fields;
    auto sendFields = [&](int isi) {
        for (const auto& field : fields) {
            const auto frame = tsgen::makeBbFrame(field.data(), field.size(), o.frameSize, isi);
            if (o.raw)
                buffer.insert(buffer.end(), frame.begin(), frame.end());
            else
                bbTs.writeFrame(frame.data(), frame.size(), buffer);
        }
        fields.clear();
    };
    // The PDU of a GSE or ULE carrier: the datagram, or an Ethernet frame around it.
    auto pduFor = [&](const tsgen::MacAddress& mac, const std::vector<uint8_t>& datagram) {
        if (!o.bridged)
            return std::make_pair(tsgen::TypeChain{tsgen::kTypeIpv4, {}}, datagram);
        std::vector<uint8_t> frame(mac.begin(), mac.end());
        const uint8_t rest[8] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00}; // source, IPv4
        frame.insert(frame.end(), rest, rest + sizeof rest);
        frame.insert(frame.end(), datagram.begin(), datagram.end());
        return std::make_pair(tsgen::TypeChain{tsgen::kTypeBridged, {}}, frame);
    };

    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> sizes(minPayload, maxPayload);
    unsigned long long written = 0, sequence = 0;
    const tsgen::MacAddress multicastMac{0x01, 0x00, 0x5E, 0x01, 0x01, 0x01};
    const tsgen::MacAddress broadcastMac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    while ((count == 0 || sequence < count) && (totalBytes == 0 || written < totalBytes)) {
        const size_t n = sizes(random);
        for (size_t k = 0; k < n; ++k)
            payload[k] = static_cast<uint8_t>(sequence * 31 + k);
        for (int k = 0; k < 8; ++k)
            payload[k] = static_cast<uint8_t>(sequence >> (8 * (7 - k)));
        const int kinds = 1 + (multicast ? 1 : 0) + (broadcast ? 1 : 0);
        int kind = static_cast<int>(sequence % kinds);
        if (kind == 1 && !multicast) kind = 2;
        const tsgen::MacAddress& mac = kind == 0 ? station : kind == 1 ? multicastMac : broadcastMac;
        const uint32_t dst = kind == 0 ? 0x0A000002u : kind == 1 ? 0xEF010101u : 0xFFFFFFFFu;
        const auto datagram = tsgen::makeUdpDatagram(0x0A000001u, dst, 40000, 4000, payload.data(), n);
        size_t carrier = sequence % carriers;
        if (carrier < mpe.size()) {
            mpe[carrier].writeSection(mac, datagram.data(), datagram.size(), buffer);
        } else if ((carrier -= mpe.size()) < ule.size()) {
            const auto [type, pdu] = pduFor(mac, datagram);
            const auto sndu = tsgen::makeSndu(type, o.noAddress ? nullptr : &mac, pdu.data(), pdu.size());
            ule[carrier].writeSndu(sndu.data(), sndu.size(), buffer);
        } else {
            GseStream& stream = gse[carrier - ule.size()];
            tsgen::GsePdu pdu;
            std::tie(pdu.type, pdu.data) = pduFor(mac, datagram);
            pdu.labelType = o.label;
            std::copy(mac.begin(), mac.end(), pdu.label.begin());
            stream.framer.add(pdu, fields);
            sendFields(stream.isi);
        }
        ++sequence;
        if (buffer.size() >= (1u << 20)) {
            if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
                std::fprintf(stderr, "kestmkts: cannot write %s: %s\n", outPath, std::strerror(errno));
                return 1;
            }
            written += buffer.size();
            buffer.clear();
        }
    }
    for (auto& w : mpe)
        w.flush(buffer);
    // A closing section start on every MPE PID, so the decoder hands over the last datagram.
    const uint8_t closing[28] = {0x45, 0, 0, 28};
    for (auto& w : mpe) {
        w.writeSection(tsgen::MacAddress{0x02, 0, 0, 0, 0, 0x99}, closing, sizeof closing, buffer);
        w.flush(buffer);
    }
    for (auto& w : ule)
        w.flush(buffer);
    for (GseStream& stream : gse) {
        stream.framer.flush(fields);
        sendFields(stream.isi);
    }
    // In the pseudo transport stream, the start of a frame that holds only
    // padding closes the last one, for a reader that waits for it.
    if (!gse.empty() && !o.raw) {
        const std::vector<uint8_t> padding(16, 0);
        const auto frame = tsgen::makeBbFrame(padding.data(), padding.size(), 0, gse.front().isi);
        bbTs.writeFrame(frame.data(), frame.size(), buffer);
    }
    const bool ok = std::fwrite(buffer.data(), 1, buffer.size(), out) == buffer.size() && std::fflush(out) == 0;
    if (out != stdout)
        std::fclose(out);
    if (!ok) {
        std::fprintf(stderr, "kestmkts: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}
