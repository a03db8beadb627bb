// A whole number given on the command line: decimal, or hexadecimal after 0x
// as PIDs are written (0x010E), up to `max`, with nothing before or after it.
// strtoull alone would take "-1" as the largest number there is and "10x" as 10.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdlib>

inline bool parseNumberArgument(const char* text, unsigned long long max, unsigned long long& value)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    const bool hexadecimal = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hexadecimal && !std::isxdigit(static_cast<unsigned char>(text[2])))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(hexadecimal ? text + 2 : text, &end, hexadecimal ? 16 : 10);
    return errno == 0 && *end == '\0' && value <= max;
}
