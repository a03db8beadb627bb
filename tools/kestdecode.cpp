// kestdecode: the receiver's data path as a console tool for recorded streams.
//   kestdecode [--pid N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES]
//              [--pcap FILE | --tap IFNAME | --null] [FILE | -]
// The input is fed in samples of the given size through the packet aligner,
// demultiplexer, MPE decoder and virtual adapter, then the figures are printed.
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "drivers/satnic/satnic.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: kestdecode [--pid N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES] "
    "[--pcap FILE | --tap IFNAME | --null] [FILE | -]\n";

int badArguments(const char* why)
{
    std::fprintf(stderr, "kestdecode: %s\n%s", why, kUsage);
    return 2;
}

bool parseNumber(const char* text, unsigned long max, unsigned long& value)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

bool parseMac(const char* text, uint8_t mac[6])
{
    if (text == nullptr || std::strlen(text) != 17)
        return false;
    for (int i = 0; i < 6; ++i) {
        const char* p = text + 3 * i;
        if (!std::isxdigit(static_cast<unsigned char>(p[0])) || !std::isxdigit(static_cast<unsigned char>(p[1]))
            || (i < 5 && p[2] != ':'))
            return false;
        mac[i] = static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
    }
    return true;
}

struct Options {
    std::vector<unsigned> pids;
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    size_t sampleSize = 65424;
    std::string adapter = "null";
    std::string input = "-";
};

// Returns 0 when the arguments are good, else the exit status.
int parseArguments(int argc, char** argv, Options& options)
{
    bool haveOutput = false, haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (arg == "--pid") {
            if (!parseNumber(value, 8191, number))
                return badArguments("--pid needs a PID from 0 to 8191");
            options.pids.push_back(static_cast<unsigned>(number));
            ++i;
        } else if (arg == "--mac") {
            if (!parseMac(value, options.mac))
                return badArguments("--mac needs an address like 00:11:22:33:44:55");
            ++i;
        } else if (arg == "--sample-size") {
            if (!parseNumber(value, 64ul << 20, number) || number == 0)
                return badArguments("--sample-size needs a byte count from 1 to 67108864");
            options.sampleSize = number;
            ++i;
        } else if (arg == "--pcap" || arg == "--tap") {
            if (value == nullptr || haveOutput)
                return badArguments("give one of --pcap FILE, --tap IFNAME, --null");
            options.adapter = (arg == "--pcap" ? "pcap:" : "tap:") + std::string(value);
            haveOutput = true;
            ++i;
        } else if (arg == "--null") {
            if (haveOutput)
                return badArguments("give one of --pcap FILE, --tap IFNAME, --null");
            options.adapter = "null";
            haveOutput = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return badArguments(("unknown option " + arg).c_str());
        } else {
            if (haveInput)
                return badArguments("only one input file");
            options.input = arg;
            haveInput = true;
        }
    }
    return 0;
}

void printFigures(uint64_t packets, const satnic::Statistics& adapter)
{
    const DecoderState& s = decoderState();
    std::printf("packets: %llu\n", static_cast<unsigned long long>(packets));
    std::printf("frames: %llu\n", static_cast<unsigned long long>(adapter.frames));
    std::printf("bytes: %llu\n", static_cast<unsigned long long>(adapter.bytes));
    const struct {
        const char* caption;
        const std::atomic<uint64_t>& counter;
    } rows[] = {
        {"Continuity errors:", s.rxContinuityErrors}, {"Scrambled errors:", s.rxScrambledErrors},
        {"Pointer field errors:", s.rxPointerErrors}, {"Mem errors:", s.rxMemErrors},
        {"Length errors:", s.rxLengthErrors},         {"CRC errors:", s.rxCrcErrors},
        {"LLC/SNAP errors:", s.rxDropped},            {"TOTAL errors:", s.rxErrors},
    };
    for (const auto& row : rows)
        std::printf("%s %llu\n", row.caption, static_cast<unsigned long long>(row.counter.load()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = parseArguments(argc, argv, options))
        return status;

    const int input = options.input == "-" ? STDIN_FILENO : open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        std::fprintf(stderr, "kestdecode: cannot open %s: %s\n", options.input.c_str(), std::strerror(errno));
        return 1;
    }
    std::string error;
    if (!satnic::install(options.adapter, &error)) {
        std::fprintf(stderr, "kestdecode: %s\n", error.c_str());
        return 1;
    }

    allocatePidTables();
    clearSlots();
    for (unsigned pid : options.pids)
        assignSlot(static_cast<int>(pid));
    DecoderState& state = decoderState();
    state.adapterHandle = openAdapter();
    std::memcpy(state.macFilter, options.mac, 6);
    setAdapterAddress(state.adapterHandle, state.macFilter);
    state.packetCallback = processPacket;

    PacketAligner aligner;
    std::vector<uint8_t> sample(options.sampleSize);
    int status = 0;
    for (;;) {
        // Fill whole samples, as a capture driver would hand them over.
        size_t filled = 0;
        while (filled < sample.size()) {
            const ssize_t n = read(input, sample.data() + filled, sample.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                std::fprintf(stderr, "kestdecode: cannot read %s: %s\n", options.input.c_str(), std::strerror(errno));
                status = 1;
            }
            if (n <= 0)
                break;
            filled += static_cast<size_t>(n);
        }
        if (filled == 0)
            break;
        aligner.alignPackets(sample.data(), static_cast<long>(filled), state.packetCallback);
        if (filled < sample.size())
            break;
    }
    if (input != STDIN_FILENO)
        close(input);

    uint64_t packets = 0;
    for (int pid = 0; pid < 8192; ++pid)
        packets += state.pidPackets[pid];
    state.packetCallback = nullptr;
    const satnic::Statistics adapter = satnic::statistics();
    closeAdapter(state.adapterHandle);
    state.adapterHandle = nullptr;
    satnic::uninstall();
    printFigures(packets, adapter);
    freePidTables();
    return status;
}
