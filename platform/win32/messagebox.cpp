#include "platform/win32/messagebox.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {
std::mutex handlerMutex;
platform::MessageBoxHandler& currentHandler()
{
    static platform::MessageBoxHandler handler;
    return handler;
}
} // namespace

namespace platform {

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    MessageBoxHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

bool messageBoxesToStderr()
{
    const char* value = std::getenv("KEST_MESSAGEBOX");
    return value != nullptr && std::strcmp(value, "stderr") == 0;
}

int defaultMessageBoxAnswer(UINT type)
{
    const UINT buttons = type & 0xF;
    const bool second = (type & MB_DEFBUTTON2) != 0;
    switch (buttons) {
    case MB_OKCANCEL:
        return second ? IDCANCEL : IDOK;
    case MB_YESNO:
        return second ? IDNO : IDYES;
    default:
        return IDOK;
    }
}

void writeMessageBoxToStderr(LPCSTR caption, LPCSTR text)
{
    std::string body = text != nullptr ? text : "";
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.pop_back();
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", body.c_str());
    std::fflush(stderr);
}

} // namespace platform

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    platform::MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = currentHandler();
    }
    if (handler && !platform::messageBoxesToStderr())
        return handler(text, caption, type);
    platform::writeMessageBoxToStderr(caption, text);
    return platform::defaultMessageBoxAnswer(type);
}
