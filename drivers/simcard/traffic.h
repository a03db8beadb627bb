// The transport stream the simulated card delivers while locked: built-in
// traffic or a transport-stream file, cut into samples of varying sizes and
// paced to a bit rate.
//
// Built-in traffic (PIDs as a provider would use them):
//   0x100  MPE, UDP to the card's own MAC, 10.0.0.1:40000 -> 10.0.0.2:4000
//   0x101  MPE, UDP to multicast 239.255.42.1:5001 (MAC 01:00:5E:7F:2A:01)
//   0x102  MPE, UDP to broadcast 255.255.255.255:5002
//   0x103  MPE for another receiver (02:00:00:00:00:99), which the filter skips
//   PAT on PID 0 and null packets. Payloads 64..1400 bytes, each starting with
//   "KEST SIM " and a decimal sequence number.
#pragma once

#include "drivers/simcard/sim_config.h"
#include "drivers/tsgen/mpe_stream.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace simcard {

class TrafficSource {
public:
    explicit TrafficSource(const MacAddress& cardMac);
    ~TrafficSource();
    TrafficSource(const TrafficSource&) = delete;
    TrafficSource& operator=(const TrafficSource&) = delete;

    // Switches to a file; false with a one-line *error naming it when it cannot be
    // opened, is a directory or is empty (nothing changes then).
    bool openFile(const std::string& path, bool loop, std::string* error);

    // Fills out[0, capacity) as far as the stream goes and returns the bytes
    // written: less than capacity only at the end of a file played once (0 after it).
    size_t read(uint8_t* out, size_t capacity);
    uint64_t datagramsGenerated() const { return sequence_; }

private:
    void generate();
    size_t readFile(uint8_t* out, size_t capacity);

    MacAddress cardMac_;
    std::vector<tsgen::MpeStreamWriter> writers_;
    uint8_t patContinuity_ = 0;
    std::vector<uint8_t> pending_;
    size_t offset_ = 0;
    uint64_t sequence_ = 0;
    std::FILE* file_ = nullptr;
    bool loop_ = true;
    bool fileEnded_ = false;
};

// Whether the file's first packets hold the pseudo transport stream of baseband
// frames: the first packet of a frame on PID 0x010E or 0x0118.
bool holdsBasebandFrames(const std::string& path);

// Sample sizes as a capture driver hands them over: mostly around 64 KiB, now
// and then a short or odd one, never a fixed multiple of 188.
class SamplePlan {
public:
    explicit SamplePlan(size_t largest, uint32_t seed = 0x4B455354u) : largest_(largest), state_(seed | 1) {}
    size_t next();

private:
    size_t largest_;
    uint32_t state_;
};

// Keeps delivery at `kbps` kbit/s on average (0: no pacing).
class Pacer {
public:
    explicit Pacer(uint32_t kbps) : kbps_(kbps) {}
    // Restarts the budget, e.g. after a pause.
    void restart();
    // How long to wait before the next `bytes` may go.
    std::chrono::nanoseconds delayBefore(size_t bytes);

private:
    uint32_t kbps_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    uint64_t sentBits_ = 0;
};

} // namespace simcard
