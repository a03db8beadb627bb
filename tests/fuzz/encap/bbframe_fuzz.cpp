// libFuzzer target: baseband frames in all three ways in.
//
// Input: byte 0 flags: bits 0-1 the way in (0 raw bytes through the frame
// scanner, 1 one frame per record as from UDP, 2 packets of the pseudo
// transport stream through processPacket, 3 the same with the multistream
// filter on input stream 1), bit 2 station filter, bit 3 fix up the header
// CRC-8 and data field length of each frame record (ways 1 and 2), so that
// frames reach the GSE decoder.
// Way 0: the rest in pieces of 1 + data[i] bytes, piece sizes taken in turn
// from the first four bytes. Ways 1-3: records of 2 bytes L, L bytes; for way
// 1 a frame, for ways 2-3 a frame cut into pseudo transport stream packets
// (with every 16th record's packets one lost).
#include "decoder/bbframe.h"
#include "sink.h"
#include "tests/support/encap_builders.h"

#include <algorithm>
#include <vector>

namespace {

void fixUp(std::vector<uint8_t>& f)
{
    if (f.size() < 10)
        return;
    const size_t field = f.size() - 10;
    f[4] = static_cast<uint8_t>((field * 8) >> 8);
    f[5] = static_cast<uint8_t>(field * 8);
    f[9] = encap::crc8(f.data(), 9);
}

void packetise(const std::vector<uint8_t>& f, int pid, int& cc, bool loseOne)
{
    size_t at = 0;
    for (int n = 0; at < f.size(); ++n) {
        const size_t take = std::min<size_t>(179, f.size() - at);
        uint8_t p[188];
        std::memset(p, 0xFF, sizeof p);
        const uint8_t header[9] = {0x47, static_cast<uint8_t>(0x40 | (pid >> 8)), static_cast<uint8_t>(pid),
                                   static_cast<uint8_t>(0x10 | cc), 0x00, 0x80, 0x00,
                                   static_cast<uint8_t>(take + 1), static_cast<uint8_t>(n == 0 ? 0xB8 : n)};
        std::memcpy(p, header, sizeof header);
        std::memcpy(p + 9, f.data() + at, take);
        if (!(loseOne && n == 1))
            processPacket(p);
        cc = (cc + 1) & 0x0F;
        at += take;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const int way = flags & 3;
    fuzzsink::setUp((flags & 4) != 0);
    if (way == 3)
        setInputStreamFilter(1);
    size_t pos = 1;
    if (way == 0) {
        uint8_t sizes[4] = {200, 200, 200, 200};
        for (int i = 0; i < 4 && pos < size; ++i)
            sizes[i] = data[pos++];
        auto scanner = std::make_unique<BasebandFrameScanner>();
        for (int i = 0; pos < size; ++i) {
            const size_t n = std::min<size_t>(size - pos, 1 + size_t(sizes[i % 4]) * 37);
            std::vector<uint8_t> piece(data + pos, data + pos + n);
            scanner->feed(piece.data(), piece.size());
            pos += n;
        }
    } else {
        int cc = 0;
        for (int record = 0; pos + 2 <= size; ++record) {
            const size_t length = std::min<size_t>((size_t(data[pos]) << 8) | data[pos + 1], size - pos - 2);
            pos += 2;
            std::vector<uint8_t> f(data + pos, data + pos + length);
            pos += length;
            if (flags & 8)
                fixUp(f);
            if (way == 1)
                decodeBasebandFrame(f.data(), f.size());
            else
                packetise(f, record % 5 == 4 ? 0x0118 : 0x010E, cc, record % 16 == 15);
        }
    }
    fuzzsink::checkCounters();
    return 0;
}
