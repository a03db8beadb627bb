// Critical sections and Sleep. Sleep goes through a replaceable handler so that
// tests can check pacing without waiting.
#pragma once

#include "platform/win32/types.h"

#include <functional>
#include <mutex>

// Recursive, as Win32's are.
struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

void Sleep(DWORD milliseconds);

namespace platform {

// Holds a critical section for its lifetime.
class CritSecLock {
public:
    explicit CritSecLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
    ~CritSecLock() { LeaveCriticalSection(&section_); }
    CritSecLock(const CritSecLock&) = delete;
    CritSecLock& operator=(const CritSecLock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

using SleepHandler = std::function<void(DWORD milliseconds)>;
// Replaces what Sleep does (empty: really sleep). Returns the previous handler.
SleepHandler setSleepHandler(SleepHandler handler);

} // namespace platform
