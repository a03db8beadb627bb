#include "platform/win32/guid.h"

#include <cctype>
#include <cstdio>

namespace {

bool parseHex(const char* text, int digits, uint64_t& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                                       ? c - '0'
                                                       : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return true;
}

} // namespace

HRESULT CLSIDFromString(const char* text, CLSID* guid)
{
    if (text == nullptr || guid == nullptr)
        return E_INVALIDARG;
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (std::strlen(text) != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-'
        || text[19] != '-' || text[24] != '-')
        return E_INVALIDARG;
    GUID parsed{};
    uint64_t value = 0;
    if (!parseHex(text + 1, 8, value))
        return E_INVALIDARG;
    parsed.Data1 = static_cast<uint32_t>(value);
    if (!parseHex(text + 10, 4, value))
        return E_INVALIDARG;
    parsed.Data2 = static_cast<uint16_t>(value);
    if (!parseHex(text + 15, 4, value))
        return E_INVALIDARG;
    parsed.Data3 = static_cast<uint16_t>(value);
    const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!parseHex(text + offsets[i], 2, value))
            return E_INVALIDARG;
        parsed.Data4[i] = static_cast<uint8_t>(value);
    }
    *guid = parsed;
    return S_OK;
}

namespace platform {
std::string guidToString(const GUID& g)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}
} // namespace platform
