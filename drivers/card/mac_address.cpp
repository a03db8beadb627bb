#include "drivers/card/mac_address.h"

#include <cctype>

namespace card {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

bool parseMac(const std::string& text, MacAddress& mac)
{
    if (text.size() != 17)
        return false;
    MacAddress parsed{};
    for (size_t i = 0; i < 6; ++i) {
        const int high = hexDigit(text[3 * i]), low = hexDigit(text[3 * i + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != ':'))
            return false;
        parsed[i] = static_cast<uint8_t>(high << 4 | low);
    }
    mac = parsed;
    return true;
}

} // namespace card
