// kestdecode: the receiver's data path as a console tool for recorded streams.
//   kestdecode [--pid N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES]
//              [--pcap FILE | --tap IFNAME | --null] [--metrics FILE] [FILE | -]
// The input is fed in samples of the given size through the receiver's filter
// graph (a file source, the tee and the transport-stream input with its packet
// aligner) into the demultiplexer, MPE decoder and virtual adapter, then the
// figures are printed. Exit status 1 also when the adapter could not pass
// every frame on (a full disk, an interface that went away).
#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "decoder/ts_input_filter.h"
#include "drivers/satnic/satnic.h"
#include "metrics/exposition.h"
#include "metrics/textfile.h"
#include "platform/media/media.h"

#include <fcntl.h>
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
    "usage: kestdecode [--pid N]... [--mac XX:XX:XX:XX:XX:XX] [--sample-size BYTES] "
    "[--pcap FILE | --tap IFNAME | --null] [--metrics FILE] [FILE | -]\n";

// The decoder's section slots.
constexpr size_t kMaxPids = 15;

constexpr const char* kHelp =
    "Decodes the IP datagrams of the MPE sections in a recorded MPEG-2 transport stream\n"
    "as the receiver does, hands the Ethernet frames to a virtual adapter and prints the\n"
    "packet, frame and byte counts and the decoder's error counters.\n"
    "\n"
    "  --pid N              decode MPE sections on PID N (0..8191); up to 15 PIDs, a\n"
    "                       repeated one counts once\n"
    "  --mac ADDRESS        station address for unicast sections (default 00:00:00:00:00:00)\n"
    "  --sample-size BYTES  bytes per media sample fed to the decoder (default 65424)\n"
    "  --pcap FILE          write the frames to a pcap capture file\n"
    "  --tap IFNAME         send the frames into the TAP interface IFNAME\n"
    "  --null               count the frames only (the default)\n"
    "  --metrics FILE       also write the counts as Prometheus metrics into FILE\n"
    "  FILE | -             the transport stream; - or nothing reads standard input\n"
    "  --help, --version    print this text or the version and stop\n"
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
    std::string metrics;
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
            // A PID given again takes no second slot, as on the receiver's PID page.
            if (std::find(options.pids.begin(), options.pids.end(), number) == options.pids.end()) {
                if (options.pids.size() == kMaxPids)
                    return badArguments("at most 15 different PIDs can be decoded at once");
                options.pids.push_back(static_cast<unsigned>(number));
            }
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

    if (!inputReadable(options.input))
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
        state.adapterHandle = openAdapter();
        std::memcpy(state.macFilter, options.mac, 6);
        setAdapterAddress(state.adapterHandle, state.macFilter);
    }
    state.packetCallback = processPacket;

    int status = 0;
    {
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
