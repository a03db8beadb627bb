// A PDU taken out of GSE or ULE, handed to the adapter as the same Ethernet II
// frame the MPE path builds, and the extension headers both encapsulations
// share (the ULE next-header registry: type values below 1536).
//
// Runs on the streaming thread; the frame is built in frame slot 0 of the
// decoder's frameBatch and sent at once, like an MPE frame.
#pragma once

#include <cstdint>

constexpr uint16_t kBridgedFrameType = 0x0001; // the PDU is an Ethernet frame without its FCS
constexpr uint16_t kTestSnduType = 0x0000;     // to be discarded, no error
constexpr uint16_t kFirstEthertype = 0x0600;   // 1536: a type from here on is an EtherType

enum class NextHeader {
    Pdu,     // type and pdu now describe the PDU itself
    Discard, // a test PDU: dropped silently
    Bad,     // an unknown mandatory extension header or a chain running past the data
};

// Walks the extension headers that `type` introduces at `data`: optional ones
// (H-LEN 1..5) are skipped, a bridged frame or an EtherType ends the walk.
// `data` and `length` then hold the PDU, `type` its protocol type.
NextHeader skipExtensionHeaders(uint16_t& type, const uint8_t*& data, uint32_t& length);

// Whether an address (transmission order) passes the station filter as MPE
// addresses do: the filter address, IPv4 or IPv6 multicast, broadcast.
bool stationAccepts(const uint8_t* address);

enum class PduResult {
    Sent,      // handed to the adapter (whether it took it is not looked at)
    NotForUs,  // filtered out by its destination
    TooLong,   // does not fit a frame slot: counted as a length error
    Malformed, // a bridged frame shorter than its Ethernet header (the caller counts it)
};

// Sends one PDU of protocol type `type` (an EtherType, or kBridgedFrameType for
// an Ethernet frame). `destination` is the 6-byte address the PDU came with,
// or null: then the destination follows from the IP destination (multicast
// mapped as RFC 1112 and RFC 2464 do), else it is the station address.
PduResult sendPdu(uint16_t type, const uint8_t* destination, const uint8_t* pdu, uint32_t length);
