// DVB-S2 baseband frames: the 10-byte header (MATYPE-1, MATYPE-2, UPL, DFL in
// bits, SYNC, SYNCD, CRC-8), the data field, and zero padding up to the
// frame's size (Kbch / 8 bytes of the frame's code rate).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsgen {

// MATYPE-1 bits.
constexpr uint8_t kMatypeGenericContinuous = 0x40; // TS/GS = 01
constexpr uint8_t kMatypeTransport = 0xC0;         // TS/GS = 11
constexpr uint8_t kMatypeSingleStream = 0x20;      // SIS/MIS
constexpr uint8_t kMatypeCcm = 0x10;               // CCM/ACM

constexpr size_t kBbHeaderSize = 10;
// Frame sizes in bytes: normal frames, code rates 1/2 and 3/4; short frame, rate 1/2.
constexpr size_t kNormalFrameRate1_2 = 32208 / 8;
constexpr size_t kNormalFrameRate3_4 = 48408 / 8;
constexpr size_t kShortFrameRate1_2 = 7032 / 8;

struct BbHeader {
    uint8_t matype1 = kMatypeGenericContinuous | kMatypeSingleStream | kMatypeCcm;
    uint8_t matype2 = 0; // the input stream identifier of a multistream
    uint16_t upl = 0;    // user packet length in bits; 0 for a continuous stream
    uint16_t dfl = 0;    // data field length in bits
    uint8_t sync = 0;
    uint16_t syncd = 0;
};

// CRC-8 of the header: polynomial x^8 + x^7 + x^6 + x^4 + x^2 + 1 (0xD5),
// initial value 0, most significant bit first.
uint8_t crc8Dvb(const uint8_t* data, size_t length);

// The header bytes, CRC-8 over the first nine in the tenth.
std::array<uint8_t, kBbHeaderSize> encodeBbHeader(const BbHeader& header);

// A generic continuous stream frame carrying `data` (DFL = its length in
// bits), padded with zeros to `frameSize` bytes when that is larger. `isi`
// >= 0 makes it a frame of a multistream with that input stream identifier.
std::vector<uint8_t> makeBbFrame(const uint8_t* data, size_t length, size_t frameSize, int isi = -1);

} // namespace tsgen
