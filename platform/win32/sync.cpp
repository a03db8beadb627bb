#include "platform/win32/sync.h"

#include <chrono>
#include <thread>

void InitializeCriticalSection(CRITICAL_SECTION*) {}
void DeleteCriticalSection(CRITICAL_SECTION*) {}
void EnterCriticalSection(CRITICAL_SECTION* section) { section->mutex.lock(); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { section->mutex.unlock(); }

namespace {
std::mutex handlerMutex;
platform::SleepHandler& currentHandler()
{
    static platform::SleepHandler handler;
    return handler;
}
} // namespace

void Sleep(DWORD milliseconds)
{
    platform::SleepHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = currentHandler();
    }
    if (handler)
        handler(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace platform {
SleepHandler setSleepHandler(SleepHandler handler)
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    SleepHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}
} // namespace platform
