// ULE (Unidirectional Lightweight Encapsulation) on a PID: SNDUs of
//   D bit and Length (15 bits: bytes after the Type field, CRC included),
//   Type, the destination address (6 bytes, only when D is 0), extension
//   headers, the PDU, and the MPEG-2 CRC-32 over everything before it,
// cut into transport packets. A packet in which an SNDU starts has the payload
// unit start indicator and a payload pointer; the room after the last SNDU is
// 0xFF (the 0xFFFF end indicator and padding).
#pragma once

#include "drivers/tsgen/ext_headers.h"
#include "drivers/tsgen/packetizer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

// The SNDU bytes. Without `destination` the D bit is 1.
std::vector<uint8_t> makeSndu(const TypeChain& type, const std::array<uint8_t, 6>* destination, const uint8_t* pdu,
                              size_t length);

class UleStreamWriter {
public:
    explicit UleStreamWriter(uint16_t pid) : packets_(pid, 2) {}

    // Appends the packets the SNDU (whole, as made by makeSndu or by hand)
    // fills. Packed: it starts right behind the previous one when at least
    // its Length field fits there; otherwise in a packet of its own.
    void writeSndu(const uint8_t* sndu, size_t length, std::vector<uint8_t>& out);
    // Ends the packet in progress: end indicator and padding.
    void flush(std::vector<uint8_t>& out) { packets_.flush(out); }

    void setPacked(bool packed) { packed_ = packed; }
    uint16_t pid() const { return packets_.pid(); }

private:
    Packetizer packets_;
    bool packed_ = true;
};

} // namespace tsgen
