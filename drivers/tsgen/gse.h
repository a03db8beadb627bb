// GSE packets (Generic Stream Encapsulation) and the data fields of baseband
// frames filled with them.
//
// A packet: S, E, label type (2 bits) and GSE_Length (12 bits, the bytes that
// follow these two); then Frag_ID unless S and E are both set; Total_Length
// when S alone is set; Protocol_Type and the label when S is set; the
// extension headers, the PDU or a piece of it; a CRC-32 (the MPEG-2 one, over
// Total_Length to the end of the PDU) in the last fragment. Four zero bits
// where a header would start mark the rest of the data field as padding.
#pragma once

#include "drivers/tsgen/ext_headers.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

enum class GseLabelType : uint8_t { SixByte = 0, ThreeByte = 1, None = 2, ReUse = 3 };

using GseLabel = std::array<uint8_t, 6>;

// One packet, every field as given (a test may make it wrong on purpose).
struct GsePacket {
    bool start = true;
    bool end = true;
    GseLabelType labelType = GseLabelType::None;
    uint8_t fragId = 0;           // written unless start and end
    uint16_t totalLength = 0;     // written when start and not end
    uint16_t protocolType = 0;    // written when start
    GseLabel label{};             // 6 or 3 bytes written when start, by labelType
    const uint8_t* data = nullptr; // extension headers and PDU, or a piece of them
    size_t length = 0;
    uint32_t crc = 0;             // written when end and not start
};

// Appends the packet to `out`.
void appendGsePacket(const GsePacket& packet, std::vector<uint8_t>& out);
size_t gseLabelSize(GseLabelType type);

// The CRC-32 a fragmented PDU carries: over Total_Length, Protocol_Type, the
// label, the extension headers and the PDU.
uint32_t gsePduCrc(uint16_t totalLength, uint16_t protocolType, const uint8_t* label, size_t labelSize,
                   const uint8_t* rest, size_t restLength);

struct GsePdu {
    TypeChain type;
    GseLabelType labelType = GseLabelType::None; // SixByte, ThreeByte or None
    GseLabel label{};
    std::vector<uint8_t> data;
};

// Fills data fields of `capacity` bytes with PDUs: whole where they fit,
// otherwise a first fragment at the end of one field and the rest in the
// next ones (Frag_ID counting up, one PDU in fragments at a time).
class GseFramer {
public:
    // `capacity`: at least 64 bytes (a smaller one is taken as 64).
    explicit GseFramer(size_t capacity) : capacity_(capacity < 64 ? 64 : capacity) {}

    // A PDU after one with the same label in the same field gets label type
    // "re-use" (never the first PDU of a field).
    void setLabelReuse(bool reuse) { reuse_ = reuse; }
    // Finished fields end in GSE padding up to `capacity` (otherwise they
    // are as long as what they hold).
    void setPadFields(bool pad) { pad_ = pad; }

    // Appends every data field the PDU completes to `fields`.
    void add(const GsePdu& pdu, std::vector<std::vector<uint8_t>>& fields);
    // Appends the field in progress, if it holds anything.
    void flush(std::vector<std::vector<uint8_t>>& fields);

private:
    size_t room() const;
    void closeField(std::vector<std::vector<uint8_t>>& fields);

    size_t capacity_;
    bool reuse_ = false;
    bool pad_ = false;
    uint8_t nextFragId_ = 0;
    std::vector<uint8_t> field_;
    bool haveLabel_ = false; // a PDU with a label is in the current field
    GseLabelType lastLabelType_ = GseLabelType::None;
    GseLabel lastLabel_{};
};

} // namespace tsgen
