#include "drivers/tsgen/ext_headers.h"

namespace tsgen {

namespace {

TypeChain prepend(const TypeChain& chain, uint16_t type, const std::vector<uint8_t>& body)
{
    TypeChain out;
    out.firstType = type;
    out.headers = body;
    out.headers.push_back(static_cast<uint8_t>(chain.firstType >> 8));
    out.headers.push_back(static_cast<uint8_t>(chain.firstType));
    out.headers.insert(out.headers.end(), chain.headers.begin(), chain.headers.end());
    return out;
}

} // namespace

TypeChain withOptionalHeader(const TypeChain& chain, uint8_t hType, const std::vector<uint8_t>& body)
{
    const unsigned hLen = static_cast<unsigned>(body.size() + 2) / 2;
    return prepend(chain, static_cast<uint16_t>((hLen & 7) << 8 | hType), body);
}

TypeChain withMandatoryHeader(const TypeChain& chain, uint8_t hType, const std::vector<uint8_t>& body)
{
    return prepend(chain, hType, body);
}

} // namespace tsgen
