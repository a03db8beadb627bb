// Cuts units (MPE sections, ULE SNDUs) into the payloads of 188-byte transport
// packets on one PID. A packet in which a unit starts has the payload unit
// start indicator set and a pointer byte in front of its payload that says
// where the first unit starting in it begins; unused room is filled with 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

constexpr size_t kPacketSize = 188;

class Packetizer {
public:
    // `minimumStart`: payload bytes a unit must find behind its start in a
    // packet, or it starts in the next packet instead.
    Packetizer(uint16_t pid, size_t minimumStart) : pid_(pid), minimumStart_(minimumStart) {}

    // Appends `length` bytes of payload; `unitStart` when a unit starts with
    // them. With `packed` a unit may start in the packet the previous one ends
    // in; otherwise it starts a packet of its own.
    void emit(const uint8_t* data, size_t length, bool unitStart, bool packed, std::vector<uint8_t>& out);
    // Finishes the packet in progress with 0xFF bytes.
    void flush(std::vector<uint8_t>& out);

    uint16_t pid() const { return pid_; }

private:
    void openPacket(bool unitStart);

    uint16_t pid_;
    size_t minimumStart_;
    uint8_t continuity_ = 0;
    // The packet being filled; `fill_` payload bytes used (0 when none is open).
    std::array<uint8_t, kPacketSize> packet_{};
    size_t fill_ = 0;
    bool startInPacket_ = false;
};

} // namespace tsgen
