#include "drivers/tsgen/ule_stream.h"

#include "drivers/tsgen/mpe_stream.h"

namespace tsgen {

std::vector<uint8_t> makeSndu(const TypeChain& type, const std::array<uint8_t, 6>* destination, const uint8_t* pdu,
                              size_t length)
{
    const size_t lengthField = (destination ? 6 : 0) + type.headers.size() + length + 4;
    std::vector<uint8_t> s;
    s.reserve(4 + lengthField);
    s.push_back(static_cast<uint8_t>((destination ? 0 : 0x80) | ((lengthField >> 8) & 0x7F)));
    s.push_back(static_cast<uint8_t>(lengthField));
    s.push_back(static_cast<uint8_t>(type.firstType >> 8));
    s.push_back(static_cast<uint8_t>(type.firstType));
    if (destination)
        s.insert(s.end(), destination->begin(), destination->end());
    s.insert(s.end(), type.headers.begin(), type.headers.end());
    s.insert(s.end(), pdu, pdu + length);
    const uint32_t crc = crc32Mpeg(s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(static_cast<uint8_t>(crc >> shift));
    return s;
}

void UleStreamWriter::writeSndu(const uint8_t* sndu, size_t length, std::vector<uint8_t>& out)
{
    packets_.emit(sndu, length, true, packed_, out);
    if (!packed_)
        flush(out);
}

} // namespace tsgen
