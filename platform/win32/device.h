// Device files in place of Win32's: "\\.\NAME" and "\\.\Global\NAME" are opened
// through drivers registered in this process under NAME.
#pragma once

#include "platform/win32/types.h"

#include <memory>
#include <string>

namespace platform {

// One open instance of a device. control() runs on the caller's thread and
// must not block for long: the decoder calls it once per frame.
class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    // Returns false and sets *error for a refused request.
    virtual bool control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* bytesReturned, DWORD* error) = 0;
};

class DeviceDriver {
public:
    virtual ~DeviceDriver() = default;
    // nullptr with *error set when the device cannot be opened with this access.
    virtual std::unique_ptr<DeviceFile> open(DWORD desiredAccess, DWORD* error) = 0;
};

enum class DeviceNamespace { LocalAndGlobal, LocalOnly, GlobalOnly };

// Registers (or replaces) the driver behind NAME. Thread-safe.
void registerDevice(const std::string& name, std::shared_ptr<DeviceDriver> driver,
                    DeviceNamespace where = DeviceNamespace::LocalAndGlobal);
void unregisterDevice(const std::string& name);

} // namespace platform

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned, void* overlapped);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();
void SetLastError(DWORD error);
