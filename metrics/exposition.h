// The receiver's state in the Prometheus text exposition format (version 0.0.4),
// for the node exporter's textfile collector and a scrape over HTTP. Every
// series carries the labels receiver (the instance name, empty for the copy
// without one) and card. Names follow the Prometheus conventions: counters end
// in _total, values are in base units (bytes, hertz, seconds, ratios).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct DecoderState;

struct MetricsSnapshot {
    std::string receiver;
    std::string card;

    // The receiver's own state; kestdecode leaves it out.
    bool hasReceiver = false;
    std::string version;
    std::string model;
    double startTimeSeconds = 0; // Unix time
    bool locked = false;
    double signalLevel = 0;   // 0..1
    double signalQuality = 0; // 0..1
    uint64_t frequencyHertz = 0;
    uint64_t symbolRateBaud = 0;
    bool vertical = false;
    bool adapterOpen = false;

    uint64_t tsPackets = 0;
    uint64_t deliveredBytes = 0;
    uint64_t deliveredFrames = 0;
    uint64_t lostFrames = 0;
    std::vector<std::pair<int, uint64_t>> selectedPidPackets; // by PID, ascending

    // The error kinds of the statistics window and the other encapsulations,
    // in the order of errorKindName; their sum is the window's TOTAL.
    static constexpr size_t kErrorKinds = 10;
    std::array<uint64_t, kErrorKinds> errors{};
};

// "continuity", "scrambled", "pointer_field", "mem", "length", "crc",
// "llc_snap", "bbframe", "gse", "ule".
const char* errorKindName(size_t kind);

// The packet, PID and error counters of the decoder; per-PID figures only while
// its tables exist.
void readDecoderCounters(const DecoderState& decoder, MetricsSnapshot& snapshot);

std::string formatMetrics(const MetricsSnapshot& snapshot);

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabelValue(const std::string& value);
