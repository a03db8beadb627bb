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
platform::ActiveWindowProvider& currentProvider()
{
    static platform::ActiveWindowProvider provider;
    return provider;
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

ActiveWindowProvider setActiveWindowProvider(ActiveWindowProvider provider)
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    ActiveWindowProvider previous = std::move(currentProvider());
    currentProvider() = std::move(provider);
    return previous;
}

bool messageBoxesToStderr()
{
    const char* value = std::getenv("KEST_MESSAGEBOX");
    return value != nullptr && std::strcmp(value, "stderr") == 0;
}

namespace {

// One line: each run of line breaks inside becomes one space, trailing ones go.
std::string oneLine(LPCSTR text)
{
    std::string line;
    bool lineBreak = false;
    for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        if (*p == '\n' || *p == '\r') {
            lineBreak = true;
            continue;
        }
        if (lineBreak && !line.empty())
            line += ' ';
        lineBreak = false;
        line += *p;
    }
    return line;
}

} // namespace

void writeMessageBoxToStderr(LPCSTR caption, LPCSTR text)
{
    const std::string line = oneLine(caption) + ": " + oneLine(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    platform::MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = currentHandler();
    }
    // The handler also writes the headless line: it knows the texts' 8-bit encoding.
    if (handler)
        return handler(owner, text, caption, type);
    platform::writeMessageBoxToStderr(caption, text);
    return IDOK;
}

HWND GetActiveWindow()
{
    platform::ActiveWindowProvider provider;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        provider = currentProvider();
    }
    return provider ? provider() : nullptr;
}
