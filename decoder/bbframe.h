// DVB-S2 baseband frames (ETSI EN 302 307): the 10-byte header is checked and
// the data field of a generic continuous stream goes to the GSE decoder.
//
// Header: MATYPE-1, MATYPE-2 (the input stream of a multistream carrier), UPL
// (2 bytes), DFL (2 bytes, data field length in bits), SYNC, SYNCD (2 bytes),
// CRC-8 (polynomial 0xD5 over the nine bytes before it).
//
// Three ways in:
// - decodeBasebandFrame: one whole frame (a UDP datagram, a frame found in a file);
// - BasebandFrameScanner: raw frames back to back, each possibly padded;
// - processBasebandFramePacket: the pseudo transport stream of cards in
//   baseband-frame mode, one private section (table 0x80) per packet: the
//   first packet of a frame "00 80 00 B4 B8" then the header and 169 bytes, the
//   others "00 80 00 L N" then L-1 bytes, N counting from 1, the last one short.
// Counts in rxBbFrameErrors: a header whose CRC-8 fails, a data field length
// past the frame or not in whole bytes, a frame of the pseudo transport stream
// that lost or damaged a packet. Frames of other stream types pass uncounted.
// Streaming thread only, like processPacket.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kBbHeaderSize = 10;
// The longest frame: a normal FECFRAME's BCH block, 58192 bits.
constexpr uint32_t kMaxBasebandFrame = 58192 / 8;
constexpr int kBasebandFramePid = 0x010E;
constexpr int kBasebandFramePidAlternative = 0x0118;

// CRC-8 of a baseband header (polynomial 0xD5, initial value 0).
uint8_t bbHeaderCrc8(const uint8_t* data, size_t length);
// Whether the 10 bytes at `header` are a baseband header: CRC-8 right, a data
// field length in whole bytes that a frame can hold.
bool bbHeaderValid(const uint8_t* header);

// Decodes one frame of `size` bytes: header, data field, maybe padding.
void decodeBasebandFrame(const uint8_t* frame, size_t size);

// Finds frames in raw bytes fed in pieces of any size; frames lying in one
// piece are decoded in place, only one cut at the end of a piece is copied.
class BasebandFrameScanner {
public:
    void feed(const uint8_t* data, size_t size);
    // Forgets a frame cut at the end of the last piece.
    void reset() { held_ = 0; }

private:
    // Bytes used from `data`, decoding every whole frame found; stops where a
    // frame runs past the end.
    size_t scan(const uint8_t* data, size_t size);
    uint8_t carry_[2 * kMaxBasebandFrame];
    size_t held_ = 0;
};

// PIDs read as the pseudo transport stream: -1 for none. Default after
// resetBasebandFrames: 0x010E and 0x0118. [excluded]
void setBasebandFramePids(int first, int second);
// Only multistream frames of input stream `isi` are decoded; -1: all. [excluded]
void setInputStreamFilter(int isi);
int inputStreamFilter();
// Called by processPacket for every packet on one of those PIDs. True when the
// packet belongs to the pseudo transport stream (then nothing else looks at it).
bool processBasebandFramePacket(int pid, const uint8_t* packet);
namespace bbframe_detail {
extern int pids[2]; // the two PIDs read as the pseudo transport stream, -1 for none
}
// Whether `pid` is read as the pseudo transport stream.
inline bool isBasebandFramePid(int pid) { return pid == bbframe_detail::pids[0] || pid == bbframe_detail::pids[1]; }
// Default PIDs and filter, frames in progress and GSE state dropped. [excluded]
void resetBasebandFrames();
