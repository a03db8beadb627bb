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

void writeMessageBoxToStderr(LPCSTR caption, LPCSTR text)
{
    std::string body = text != nullptr ? text : "";
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.pop_back();
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", body.c_str());
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
    if (handler && !platform::messageBoxesToStderr())
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
