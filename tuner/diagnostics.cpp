#include "tuner/diagnostics.h"

#include "platform/win32/debug.h"
#include "platform/win32/messagebox.h"

#include <cstdio>

namespace tuner {

void errorBox(const char* text) { MessageBoxA(GetActiveWindow(), text, "Error", MB_OK | MB_ICONERROR); }

void debugLine(const char* text) { OutputDebugStringA(text); }

bool check(bool ok, const char* expression, int line)
{
    if (ok)
        return true;
    char text[160];
    std::snprintf(text, sizeof(text), "Assertion failed: %s, file bdamanager, line %d\n", expression, line);
    OutputDebugStringA(text);
    return false;
}

} // namespace tuner
