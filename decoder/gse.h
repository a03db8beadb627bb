// Generic Stream Encapsulation (ETSI TS 102 606-1) out of the data fields of
// baseband frames: GSE packets, complete or in fragments, to Ethernet frames
// through the adapter (pdu_frame.h).
//
// Takes: one data field at a time, with the input stream it belongs to.
// Keeps: per input stream, up to 256 reassemblies (one per fragment ID) in
// buffers of static storage; kGseStreamContexts input streams at once, the
// longest unused one given up when another appears.
// Counts in rxGseErrors: a CRC-32 that fails, a reassembly abandoned (a new
// start on its fragment ID, more data than its total length, not completed
// within 256 frames of its stream, its stream given up), a malformed header
// (length past the data field, label re-use in the first packet of a frame),
// an unknown mandatory extension header, a bridged frame too short. A PDU
// too long for a frame slot counts in rxLengthErrors, as on the MPE path.
// Streaming thread only, like processPacket.
#pragma once

#include <cstdint>

constexpr int kGseStreamContexts = 8;
constexpr int kGseFragmentIds = 256;
// Frames of its stream within which a fragmented PDU must complete.
constexpr uint32_t kGseReassemblyFrames = 256;
// Bytes a reassembly holds: total length field, protocol type, label,
// extension headers, PDU and CRC-32 of the longest PDU a frame slot takes.
constexpr uint32_t kGseReassemblyCapacity = 2048;

// Decodes the GSE packets of one data field of input stream `stream`.
void decodeGseDataField(int stream, const uint8_t* data, uint32_t length);

// Drops every reassembly in progress, uncounted, and forgets all streams. [excluded]
void resetGse();
