// kestdecode: the receiver's data path as a console tool for recorded streams.
//   kestdecode [--pid N]... [--ule N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES]
//              [--gse [--bbframe-pid N] [--isi N] [--udp ADDR:PORT]]
//              [--pcap FILE | --tap IFNAME | --null] [--metrics FILE] [FILE | -]
// The input is fed in samples of the given size through the receiver's filter
// graph (a file source, the tee and the transport-stream input with its packet
// aligner) into the demultiplexer, MPE decoder and virtual adapter, then the
// figures are printed. With --gse the tool reads the input itself: a transport
// stream goes through the same packet aligner, raw baseband frames to the
// frame scanner, UDP datagrams one frame each. Exit status 1 also when the adapter could not pass
// every frame on (a full disk, an interface that went away).
#include "decoder/adapter.h"
#include "decoder/bbframe.h"
#include "decoder/decoder.h"
#include "decoder/packet_aligner.h"
#include "decoder/receive_lock.h"
#include "decoder/ts_input_filter.h"
#include "drivers/satnic/satnic.h"
#include "metrics/exposition.h"
#include "metrics/textfile.h"
#include "platform/media/media.h"
#include "tools/number_argument.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: kestdecode [--pid N]... [--ule N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES]\n"
    "                  [--gse [--bbframe-pid N] [--isi N] [--udp ADDR:PORT]]\n"
    "                  [--pcap FILE | --tap IFNAME | --null] [--metrics FILE] [FILE | -]\n";

// The decoder's section slots.
constexpr size_t kMaxPids = 15;

constexpr const char* kHelp =
    "Decodes the IP datagrams of the MPE sections or ULE SNDUs in a recorded MPEG-2\n"
    "transport stream, or of the GSE packets in DVB-S2 baseband frames, as the receiver\n"
    "does, hands the Ethernet frames to a virtual adapter and prints the packet, frame\n"
    "and byte counts and the decoder's error counters.\n"
    "\n"
    "  --pid N              decode MPE sections on PID N (0..8191); up to 15 PIDs with\n"
    "                       --ule, a repeated one counts once\n"
    "  --ule N              decode ULE SNDUs on PID N (0..8191)\n"
    "  --gse                the input carries baseband frames with GSE: a transport\n"
    "                       stream is read as the pseudo transport stream of PID 0x010E\n"
    "                       or 0x0118, any other input as raw frames back to back\n"
    "  --bbframe-pid N      with --gse: the pseudo transport stream is on PID N instead\n"
    "  --isi N              with --gse: decode only input stream N (0..255) of a\n"
    "                       multistream carrier (default: all)\n"
    "  --udp ADDR:PORT      with --gse: frames from UDP datagrams sent to the IPv4\n"
    "                       address and port, one frame each, until SIGINT or SIGTERM\n"
    "  --mac ADDRESS        station address for unicast sections, GSE labels and ULE\n"
    "                       addresses (default 00:00:00:00:00:00)\n"
    "  --sample-size BYTES  bytes per media sample fed to the decoder (default 65424)\n"
    "  --pcap FILE          write the frames to a pcap capture file\n"
    "  --tap IFNAME         send the frames into the TAP interface IFNAME\n"
    "  --null               count the frames only (the default)\n"
    "  --metrics FILE       also write the counts as Prometheus metrics into FILE\n"
    "  FILE | -             the transport stream; - or nothing reads standard input\n"
    "  --help, --version    print this text or the version and stop\n"
    "\n"
    "Numbers are decimal, or hexadecimal after 0x (--pid 0x3E9).\n"
    "\n"
    "Exit status: 0 done, 1 the input or output cannot be opened or frames were lost\n"
    "(the count and the reason on standard error), 2 bad arguments.\n";

int badArguments(const char* why)
{
    std::fprintf(stderr, "kestdecode: %s\n%s", why, kUsage);
    return 2;
}

bool parseNumber(const char* text, unsigned long max, unsigned long& value)
{
    unsigned long long number = 0;
    if (!parseNumberArgument(text, max, number))
        return false;
    value = static_cast<unsigned long>(number);
    return true;
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
    std::vector<unsigned> ulePids;
    bool gse = false;
    int bbframePid = -1;
    int isi = -1;
    std::string udp;
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    size_t sampleSize = 65424;
    std::string adapter = "null";
    std::string input = "-";
    std::string metrics;
};

bool parseUdpAddress(const std::string& text, sockaddr_in& address)
{
    const size_t colon = text.rfind(':');
    unsigned long port = 0;
    if (colon == std::string::npos || !parseNumber(text.c_str() + colon + 1, 65535, port))
        return false;
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) == 1;
}

// Returns 0 when the arguments are good, else the exit status.
int parseArguments(int argc, char** argv, Options& options)
{
    bool haveOutput = false, haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (arg == "--pid" || arg == "--ule") {
            if (!parseNumber(value, 8191, number))
                return badArguments((arg + " needs a PID from 0 to 8191").c_str());
            std::vector<unsigned>& mine = arg == "--pid" ? options.pids : options.ulePids;
            const std::vector<unsigned>& other = arg == "--pid" ? options.ulePids : options.pids;
            if (std::find(other.begin(), other.end(), number) != other.end())
                return badArguments("a PID carries either MPE (--pid) or ULE (--ule)");
            // A PID given again takes no second slot, as on the receiver's PID page.
            if (std::find(mine.begin(), mine.end(), number) == mine.end()) {
                if (options.pids.size() + options.ulePids.size() == kMaxPids)
                    return badArguments("at most 15 different PIDs can be decoded at once");
                mine.push_back(static_cast<unsigned>(number));
            }
            ++i;
        } else if (arg == "--gse") {
            options.gse = true;
        } else if (arg == "--bbframe-pid" || arg == "--isi") {
            const bool pid = arg == "--bbframe-pid";
            if (!parseNumber(value, pid ? 8191 : 255, number))
                return badArguments(pid ? "--bbframe-pid needs a PID from 0 to 8191"
                                        : "--isi needs an input stream from 0 to 255");
            (pid ? options.bbframePid : options.isi) = static_cast<int>(number);
            ++i;
        } else if (arg == "--udp") {
            sockaddr_in address{};
            if (value == nullptr || !parseUdpAddress(value, address))
                return badArguments("--udp needs ADDR:PORT with an IPv4 address and a port from 0 to 65535");
            options.udp = value;
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
        } else if (arg == "--metrics") {
            if (value == nullptr || *value == '\0')
                return badArguments("--metrics needs a file name");
            options.metrics = value;
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
    if (!options.gse && (options.bbframePid >= 0 || options.isi >= 0 || !options.udp.empty()))
        return badArguments("--bbframe-pid, --isi and --udp go with --gse");
    if (!options.udp.empty() && haveInput)
        return badArguments("--udp takes no input file");
    return 0;
}

std::atomic<bool> g_stop{false};
void requestStop(int) { g_stop.store(true); }

// Baseband frames from UDP, one per datagram, until SIGINT or SIGTERM.
bool receiveUdp(const std::string& where)
{
    sockaddr_in address{};
    if (!parseUdpAddress(where, address)) {
        std::fprintf(stderr, "kestdecode: --udp needs ADDR:PORT with an IPv4 address, not %s\n", where.c_str());
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "kestdecode: cannot receive on %s: %s\n", where.c_str(), std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return false;
    }
    if (IN_MULTICAST(ntohl(address.sin_addr.s_addr))) {
        ip_mreq group{};
        group.imr_multiaddr = address.sin_addr;
        group.imr_interface.s_addr = htonl(INADDR_ANY);
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group);
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::fprintf(stderr, "kestdecode: receiving on %s\n", where.c_str());
    std::vector<uint8_t> datagram(65536);
    while (!g_stop.load()) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        const ssize_t n = recv(fd, datagram.data(), datagram.size(), 0);
        if (n > 0)
            decodeBasebandFrame(datagram.data(), static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

// Whether the first bytes of an input are transport stream packets: sync
// bytes 188 apart, four of them or at least two in a short input, from one of
// the first 188 offsets.
bool looksLikeTransportStream(const uint8_t* data, size_t size)
{
    for (size_t start = 0; start < size && start < size_t(kTsPacketSize); ++start) {
        int syncs = 0;
        size_t at = start;
        for (; at < size && syncs < 4 && data[at] == kTsSyncByte; at += kTsPacketSize)
            ++syncs;
        if (syncs == 4 || (syncs >= 2 && at >= size))
            return true;
    }
    return false;
}

// A transport stream (through the packet aligner, as the input pin does) or
// raw baseband frames, read here in samples of the given size.
bool readBasebandInput(const Options& options)
{
    const bool standardInput = options.input == "-";
    const int fd = standardInput ? STDIN_FILENO : open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> sample(options.sampleSize + 4 * kTsPacketSize);
    auto aligner = std::make_unique<PacketAligner>(processPacket);
    auto scanner = std::make_unique<BasebandFrameScanner>();
    int kind = -1; // 1 transport stream, 0 raw frames, -1 not known yet
    size_t held = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, sample.data() + held, options.sampleSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        held += static_cast<size_t>(n);
        if (kind < 0) {
            if (held < 4 * size_t(kTsPacketSize))
                continue;
            kind = looksLikeTransportStream(sample.data(), held) ? 1 : 0;
        }
        if (kind == 1)
            aligner->alignPackets(sample.data(), static_cast<long>(held));
        else
            scanner->feed(sample.data(), held);
        held = 0;
    }
    if (held > 0) {
        if (looksLikeTransportStream(sample.data(), held))
            aligner->alignPackets(sample.data(), static_cast<long>(held));
        else
            scanner->feed(sample.data(), held);
    }
    if (!standardInput)
        close(fd);
    return ok;
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
        {"BBFrame errors:", s.rxBbFrameErrors},       {"GSE errors:", s.rxGseErrors},
        {"ULE errors:", s.rxUleErrors},
    };
    for (const auto& row : rows)
        std::printf("%s %llu\n", row.caption, static_cast<unsigned long long>(row.counter.load()));
    std::fflush(stdout);
}

// The figures as the receiver's metrics, labelled with the input as the card.
bool writeMetrics(const Options& options, const satnic::Statistics& adapter)
{
    MetricsSnapshot snapshot;
    snapshot.card = "file:" + options.input;
    snapshot.deliveredFrames = adapter.frames;
    snapshot.deliveredBytes = adapter.bytes;
    snapshot.lostFrames = adapter.framesLost;
    readDecoderCounters(decoderState(), snapshot);
    std::string error;
    if (writeFileAtomically(options.metrics, formatMetrics(snapshot), &error))
        return true;
    std::fprintf(stderr, "kestdecode: %s\n", error.c_str());
    return false;
}

// The metrics are written at the end: a place they cannot go is found before
// the decoding, which may take hours, not after it.
bool metricsWritable(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "kestdecode: cannot write %s: it is a directory\n", path.c_str());
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string probe = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1))
        + ".kestdecode-probe.XXXXXX";
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        std::fprintf(stderr, "kestdecode: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    close(fd);
    unlink(name.data());
    return true;
}

// A directory opens like a file but gives no bytes: refused here, with the other
// inputs that cannot be read, before anything is written.
bool inputReadable(const std::string& input)
{
    const bool standardInput = input == "-";
    const char* name = standardInput ? "standard input" : input.c_str();
    const int fd = standardInput ? STDIN_FILENO : open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "kestdecode: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    struct stat info {};
    const bool directory = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    if (!standardInput)
        close(fd);
    if (directory)
        std::fprintf(stderr, "kestdecode: cannot read %s: it is a directory\n", name);
    return !directory;
}

// "pcap file out.pcap", "TAP interface satnic1": where the frames went.
std::string describeOutput(const std::string& adapter)
{
    if (adapter.rfind("pcap:", 0) == 0)
        return "pcap file " + adapter.substr(5);
    if (adapter.rfind("tap:", 0) == 0)
        return "TAP interface " + adapter.substr(4);
    return adapter;
}

// The receiver's graph without the card: file source -> tee -> TSInputFilter.
class DecodeGraph {
public:
    HRESULT build(const Options& options)
    {
        platform::FileSourceOptions source;
        source.sampleSize = static_cast<LONG>(options.sampleSize);
        // As after a tuning: delivery goes on with the graph running, and the
        // input drops the first sample it then sees; that one is padding.
        source.leadingPadding = true;
        source.startGate = &gate_;
        HRESULT hr = platform::createFileSource(options.input.c_str(), source, source_.put());
        if (FAILED(hr))
            return hr;
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(graph_.put()));
        if (FAILED(hr))
            return hr;
        hr = CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(tee_.put()));
        if (FAILED(hr))
            return hr;
        input_ = ComPtr<TSInputFilter>(new TSInputFilter(nullptr, &hr));
        if (FAILED(hr))
            return hr;
        for (auto [filter, name] : {std::pair<IBaseFilter*, const wchar_t*>{source_.get(), L"File source"},
                                    {tee_.get(), L"Infinite pin tee splitter"},
                                    {input_.get(), L"TSInputFilter"}})
            if (FAILED(hr = graph_->AddFilter(filter, name)))
                return hr;
        if (FAILED(hr = connect(source_.get(), L"Output", tee_.get(), L"Input")))
            return hr;
        return connect(tee_.get(), L"Output1", input_.get(), L"Input");
    }
    // Runs until the end of the input; false when the stream was aborted.
    bool run()
    {
        ComPtr<IMediaControl> control = graph_.As<IMediaControl>();
        ComPtr<IMediaEvent> events = graph_.As<IMediaEvent>();
        if (!control || !events || FAILED(control->Run()))
            return false;
        input_->setDelivery(true);
        gate_.store(true, std::memory_order_release);
        LONG code = 0;
        const HRESULT hr = events->WaitForCompletion(-1, &code);
        control->Stop();
        return SUCCEEDED(hr) && code == EC_COMPLETE;
    }

private:
    HRESULT connect(IBaseFilter* from, const wchar_t* out, IBaseFilter* to, const wchar_t* in)
    {
        ComPtr<IPin> outPin, inPin;
        HRESULT hr = from->FindPin(out, outPin.put());
        if (SUCCEEDED(hr))
            hr = to->FindPin(in, inPin.put());
        return SUCCEEDED(hr) ? graph_->Connect(outPin.get(), inPin.get()) : hr;
    }

    std::atomic<bool> gate_{false};
    ComPtr<IBaseFilter> source_, tee_;
    ComPtr<TSInputFilter> input_;
    ComPtr<IGraphBuilder> graph_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestdecode %s\n", KEST_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s\n%s", kUsage, kHelp);
        return 0;
    }
    Options options;
    if (const int status = parseArguments(argc, argv, options))
        return status;
    // Past a file-size limit a write then fails (EFBIG) like on a full disk, and the
    // frames lost are told, instead of the signal ending the tool without a word.
    std::signal(SIGXFSZ, SIG_IGN);

    if (options.udp.empty() && !inputReadable(options.input))
        return 1;
    if (!options.metrics.empty() && !metricsWritable(options.metrics))
        return 1;
    std::string error;
    if (!satnic::install(options.adapter, &error)) {
        std::fprintf(stderr, "kestdecode: %s\n", error.c_str());
        return 1;
    }

    allocatePidTables();
    DecoderState& state = decoderState();
    {
        DecoderChange change;
        clearSlots();
        for (unsigned pid : options.pids)
            assignSlot(static_cast<int>(pid));
        for (unsigned pid : options.ulePids)
            assignSlot(static_cast<int>(pid), SlotUle);
        // Baseband frames only when asked for: without --gse the tool reads
        // what it did before, whatever PIDs 0x010E and 0x0118 carry.
        if (!options.gse)
            setBasebandFramePids(-1, -1);
        else if (options.bbframePid >= 0)
            setBasebandFramePids(options.bbframePid, -1);
        setInputStreamFilter(options.isi);
        state.adapterHandle = openAdapter();
        std::memcpy(state.macFilter, options.mac, 6);
        setAdapterAddress(state.adapterHandle, state.macFilter);
    }
    state.packetCallback = processPacket;

    int status = 0;
    if (!options.udp.empty()) {
        if (!receiveUdp(options.udp))
            status = 1;
    } else if (options.gse) {
        if (!readBasebandInput(options)) {
            std::fprintf(stderr, "kestdecode: cannot read %s\n", options.input.c_str());
            status = 1;
        }
    } else {
        DecodeGraph graph;
        const HRESULT hr = graph.build(options);
        if (FAILED(hr)) {
            std::fprintf(stderr, "kestdecode: cannot build the graph for %s (0x%08X)\n", options.input.c_str(),
                         static_cast<unsigned>(hr));
            status = 1;
        } else if (!graph.run()) {
            std::fprintf(stderr, "kestdecode: cannot read %s\n", options.input.c_str());
            status = 1;
        }
    }

    uint64_t packets = 0;
    for (int pid = 0; pid < 8192; ++pid)
        packets += state.pidPackets[pid];
    state.packetCallback = nullptr;
    const satnic::Statistics adapter = satnic::statistics();
    closeAdapter(state.adapterHandle);
    state.adapterHandle = nullptr;
    satnic::uninstall();
    printFigures(packets, adapter);
    if (!options.metrics.empty() && !writeMetrics(options, adapter))
        status = 1;
    freePidTables();
    if (adapter.framesLost > 0) {
        std::fprintf(stderr, "kestdecode: %llu frames lost: %s refused them (%s)\n",
                     static_cast<unsigned long long>(adapter.framesLost), describeOutput(options.adapter).c_str(),
                     std::strerror(adapter.lastLossError));
        status = 1;
    }
    return status;
}
