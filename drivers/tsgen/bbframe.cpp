#include "drivers/tsgen/bbframe.h"

#include <algorithm>
#include <cstring>

namespace tsgen {

uint8_t crc8Dvb(const uint8_t* data, size_t length)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0xD5 : crc << 1);
    }
    return crc;
}

std::array<uint8_t, kBbHeaderSize> encodeBbHeader(const BbHeader& h)
{
    std::array<uint8_t, kBbHeaderSize> b{};
    b[0] = h.matype1;
    b[1] = h.matype2;
    b[2] = static_cast<uint8_t>(h.upl >> 8);
    b[3] = static_cast<uint8_t>(h.upl);
    b[4] = static_cast<uint8_t>(h.dfl >> 8);
    b[5] = static_cast<uint8_t>(h.dfl);
    b[6] = h.sync;
    b[7] = static_cast<uint8_t>(h.syncd >> 8);
    b[8] = static_cast<uint8_t>(h.syncd);
    b[9] = crc8Dvb(b.data(), 9);
    return b;
}

std::vector<uint8_t> makeBbFrame(const uint8_t* data, size_t length, size_t frameSize, int isi)
{
    BbHeader h;
    if (isi >= 0) {
        h.matype1 = kMatypeGenericContinuous | kMatypeCcm;
        h.matype2 = static_cast<uint8_t>(isi);
    }
    h.dfl = static_cast<uint16_t>(length * 8);
    const auto header = encodeBbHeader(h);
    std::vector<uint8_t> frame(std::max(kBbHeaderSize + length, frameSize), 0);
    std::copy(header.begin(), header.end(), frame.begin());
    if (length > 0)
        std::memcpy(frame.data() + kBbHeaderSize, data, length);
    return frame;
}

} // namespace tsgen
