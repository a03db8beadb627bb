// The pseudo transport stream in which Linux cards in baseband-frame mode
// deliver the frames: one private section (table 0x80) per 188-byte packet on
// one PID (0x010E; another maker's driver uses 0x0118).
//   first packet:  47 41 0E 1c 00 80 00 B4 B8 <179 frame bytes: header and data>
//   next packets:  47 41 0E 1c 00 80 00 B4 N  <179 frame bytes>, N = 1, 2, ...
//   last packet:   47 41 0E 1c 00 80 00 L  N  <L - 1 frame bytes> <0xFF fill>
// (c the continuity counter). A frame that fits the first packet ends there
// with its section length and 0xFF fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

constexpr uint16_t kBbFramePid = 0x010E;
constexpr uint16_t kBbFramePidOther = 0x0118;

class BbFrameTsWriter {
public:
    explicit BbFrameTsWriter(uint16_t pid = kBbFramePid) : pid_(pid) {}

    // Appends the packets of one whole frame (header, data field, padding).
    void writeFrame(const uint8_t* frame, size_t length, std::vector<uint8_t>& out);

    uint16_t pid() const { return pid_; }

private:
    void packet(uint8_t marker, const uint8_t* data, size_t length, std::vector<uint8_t>& out);

    uint16_t pid_;
    uint8_t continuity_ = 0;
};

} // namespace tsgen
