// Unidirectional Lightweight Encapsulation (RFC 4326, extension headers of
// RFC 5163) on a PID whose slot carries SlotUle: SNDUs packed into transport
// packets and spanning them, found by the payload pointer, to Ethernet frames
// through the adapter (pdu_frame.h).
//
// SNDU: D bit and 15-bit length, 16-bit type, the 6-byte destination when D
// is 0, the PDU (after any extension headers), CRC-32 over all bytes before it.
// A length field of 0xFFFF ends the SNDUs of a packet (padding follows).
// The slot's section buffer holds an SNDU that spans packets; SlotAssembling
// means the decoder knows where SNDUs start (a payload pointer was seen and
// no packet was lost since), any other state waits for the next one.
// Counts in rxUleErrors: a CRC-32 that fails, a length or payload pointer that
// does not fit, a packet lost with an SNDU in progress, an unknown mandatory
// extension header. A PDU too long for a frame slot counts in rxLengthErrors.
// Each SNDU sent counts in pidMpeSections of its PID.
// Streaming thread only, called by processPacket after the packet's error and
// scrambling bits were checked.
#pragma once

#include <cstdint>

// One packet's payload (behind header and adaptation field) for slot `slot`.
void decodeUlePayload(int slot, int continuity, bool unitStart, const uint8_t* payload, int size);
