// Wide text to the Windows-1251 ANSI code page, in which pin names are compared.
#pragma once

#include <string>

namespace tuner {

// Characters the code page lacks become '?'.
std::string toCp1251(const wchar_t* text);

} // namespace tuner
