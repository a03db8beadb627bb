// libFuzzer target: GSE data fields straight into the GSE decoder.
//
// Input: byte 0 flags (bit 0 station filter 00:11:22:33:44:55, else zero),
// then records: 1 byte input stream (0xFF: that of a single-stream carrier),
// 2 bytes L big-endian (cut to the input left), L bytes of data field.
#include "decoder/gse.h"
#include "sink.h"

#include <algorithm>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzsink::setUp((data[0] & 1) != 0);
    size_t pos = 1;
    while (pos + 3 <= size) {
        const int stream = data[pos] == 0xFF ? 256 : data[pos];
        size_t length = (size_t(data[pos + 1]) << 8) | data[pos + 2];
        pos += 3;
        length = std::min(length, size - pos);
        // An exact copy, so that a read past the data field is seen.
        std::unique_ptr<uint8_t[]> field(new uint8_t[length + 1]);
        std::memcpy(field.get(), data + pos, length);
        decodeGseDataField(stream, field.get(), static_cast<uint32_t>(length));
        pos += length;
    }
    fuzzsink::checkCounters();
    return 0;
}
