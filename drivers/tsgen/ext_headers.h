// The type field GSE and ULE share (one registry): values of 0x0600 and above
// are EtherTypes; below, an extension header, H-LEN in bits 8..10 and H-Type in
// bits 0..7. An optional header (H-LEN 1..5) is 2 * H-LEN bytes long, the type
// of what follows it in its last two bytes; a mandatory one (H-LEN 0) is known
// by its H-Type, 0x01 being a bridged Ethernet frame.
#pragma once

#include <cstdint>
#include <vector>

namespace tsgen {

constexpr uint16_t kTypeIpv4 = 0x0800;
constexpr uint16_t kTypeIpv6 = 0x86DD;
constexpr uint16_t kTypeBridged = 0x0001;

// What goes in front of a PDU: the value of the Protocol_Type (GSE) or Type
// (ULE) field and the extension header bytes between the address and the PDU.
struct TypeChain {
    uint16_t firstType = kTypeIpv4;
    std::vector<uint8_t> headers;
};

// An optional extension header in front of the chain; `body` is 2 * H-LEN - 2
// bytes long (0, 2, 4, 6 or 8).
TypeChain withOptionalHeader(const TypeChain& chain, uint8_t hType, const std::vector<uint8_t>& body);
// A mandatory extension header (H-LEN 0) with `body`, followed by the type of
// the chain: for headers a receiver does not know, which must drop the PDU.
TypeChain withMandatoryHeader(const TypeChain& chain, uint8_t hType, const std::vector<uint8_t>& body);

} // namespace tsgen
