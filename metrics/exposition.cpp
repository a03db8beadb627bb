#include "metrics/exposition.h"

#include "decoder/decoder.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* kErrorKindNames[MetricsSnapshot::kErrorKinds] = {
    "continuity", "scrambled", "pointer_field", "mem", "length", "crc", "llc_snap", "bbframe", "gse", "ule",
};

class Writer {
public:
    explicit Writer(const MetricsSnapshot& s)
        : labels_("receiver=\"" + escapeLabelValue(s.receiver) + "\",card=\"" + escapeLabelValue(s.card) + "\"")
    {
    }

    void family(const char* name, const char* type, const char* help)
    {
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }
    void sample(const char* name, uint64_t value, const std::string& more = {})
    {
        char number[24];
        std::snprintf(number, sizeof number, "%" PRIu64, value);
        line(name, number, more);
    }
    void sample(const char* name, double value, const std::string& more = {})
    {
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", value);
        line(name, number, more);
    }
    std::string take() { return std::move(text_); }

private:
    void line(const char* name, const char* value, const std::string& more)
    {
        text_ += name;
        text_ += '{';
        text_ += labels_;
        if (!more.empty()) {
            text_ += ',';
            text_ += more;
        }
        text_ += "} ";
        text_ += value;
        text_ += '\n';
    }

    std::string labels_;
    std::string text_;
};

std::string label(const char* name, const std::string& value)
{
    return std::string(name) + "=\"" + escapeLabelValue(value) + "\"";
}

} // namespace

const char* errorKindName(size_t kind) { return kind < MetricsSnapshot::kErrorKinds ? kErrorKindNames[kind] : ""; }

std::string escapeLabelValue(const std::string& value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

void readDecoderCounters(const DecoderState& d, MetricsSnapshot& s)
{
    const Counter* kinds[MetricsSnapshot::kErrorKinds] = {
        &d.rxContinuityErrors, &d.rxScrambledErrors, &d.rxPointerErrors, &d.rxMemErrors,     &d.rxLengthErrors,
        &d.rxCrcErrors,        &d.rxDropped,         &d.rxBbFrameErrors, &d.rxGseErrors,     &d.rxUleErrors,
    };
    for (size_t i = 0; i < MetricsSnapshot::kErrorKinds; ++i)
        s.errors[i] = counterValue(*kinds[i]);
    s.tsPackets = 0;
    s.selectedPidPackets.clear();
    if (d.pidPackets == nullptr)
        return;
    for (int pid = 0; pid < kPidCount; ++pid) {
        const uint64_t packets = counterValue(d.pidPackets[pid]);
        s.tsPackets += packets;
        if (d.pidSlot[pid] != 0)
            s.selectedPidPackets.emplace_back(pid, packets);
    }
}

std::string formatMetrics(const MetricsSnapshot& s)
{
    Writer w(s);
    if (s.hasReceiver) {
        w.family("kestipdata_info", "gauge", "Version of the receiver and model of its card.");
        w.sample("kestipdata_info", uint64_t(1), label("version", s.version) + "," + label("model", s.model));
        w.family("kestipdata_start_time_seconds", "gauge", "Start time of the receiver since the Unix epoch.");
        w.sample("kestipdata_start_time_seconds", s.startTimeSeconds);
        w.family("kestipdata_locked", "gauge", "1 while the demodulator is locked on the transponder.");
        w.sample("kestipdata_locked", uint64_t(s.locked ? 1 : 0));
        w.family("kestipdata_signal_level_ratio", "gauge", "Signal level, 0 to 1.");
        w.sample("kestipdata_signal_level_ratio", s.signalLevel);
        w.family("kestipdata_signal_quality_ratio", "gauge", "Signal quality, 0 to 1 (0 while unlocked).");
        w.sample("kestipdata_signal_quality_ratio", s.signalQuality);
        w.family("kestipdata_tuning_info", "gauge", "The transponder last tuned.");
        w.sample("kestipdata_tuning_info", uint64_t(1),
                 label("frequency_hertz", std::to_string(s.frequencyHertz)) + ","
                     + label("symbol_rate_baud", std::to_string(s.symbolRateBaud)) + ","
                     + label("polarisation", s.vertical ? "vertical" : "horizontal"));
        w.family("kestipdata_adapter_up", "gauge", "1 while the virtual network adapter is open.");
        w.sample("kestipdata_adapter_up", uint64_t(s.adapterOpen ? 1 : 0));
    }
    w.family("kestipdata_ts_packets_total", "counter", "Transport stream packets received, every PID.");
    w.sample("kestipdata_ts_packets_total", s.tsPackets);
    w.family("kestipdata_pid_packets_total", "counter", "Transport stream packets received on each selected PID.");
    for (const auto& [pid, packets] : s.selectedPidPackets)
        w.sample("kestipdata_pid_packets_total", packets, label("pid", std::to_string(pid)));
    w.family("kestipdata_delivered_frames_total", "counter", "Ethernet frames passed to the network adapter.");
    w.sample("kestipdata_delivered_frames_total", s.deliveredFrames);
    w.family("kestipdata_delivered_bytes_total", "counter", "Bytes of the frames passed to the network adapter.");
    w.sample("kestipdata_delivered_bytes_total", s.deliveredBytes);
    w.family("kestipdata_lost_frames_total", "counter", "Frames the network adapter could not pass on.");
    w.sample("kestipdata_lost_frames_total", s.lostFrames);
    w.family("kestipdata_decoder_errors_total", "counter",
             "Sections, packets and frames the decoder dropped, by kind; their sum is the TOTAL of the statistics window.");
    for (size_t i = 0; i < MetricsSnapshot::kErrorKinds; ++i)
        w.sample("kestipdata_decoder_errors_total", s.errors[i], label("kind", kErrorKindNames[i]));
    return w.take();
}
