#include "platform/win32/types.h"
#include "platform/win32/device.h"

#include <atomic>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
