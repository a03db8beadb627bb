#include "platform/win32/device.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

struct Registration {
    std::shared_ptr<platform::DeviceDriver> driver;
    platform::DeviceNamespace where;
};

std::mutex registryMutex;
std::map<std::string, Registration>& registry()
{
    static std::map<std::string, Registration> devices;
    return devices;
}

// A handle points at one of these; the tag catches stale and foreign handles
// that are not kernel objects of ours.
struct KernelObject {
    static constexpr uint32_t liveTag = 0x4B455354; // "KEST"
    uint32_t tag = liveTag;
    std::unique_ptr<platform::DeviceFile> file;
};

KernelObject* objectOf(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    auto* object = static_cast<KernelObject*>(handle);
    return object->tag == KernelObject::liveTag ? object : nullptr;
}

bool startsWith(const char* text, const char* prefix, size_t& length)
{
    length = std::strlen(prefix);
    return std::strncmp(text, prefix, length) == 0;
}

} // namespace

namespace platform {

void registerDevice(const std::string& name, std::shared_ptr<DeviceDriver> driver, DeviceNamespace where)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[name] = Registration{std::move(driver), where};
}

void unregisterDevice(const std::string& name)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    registry().erase(name);
}

} // namespace platform

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, void*, DWORD creationDisposition, DWORD,
                   HANDLE)
{
    if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t prefix = 0;
    bool global = false;
    if (startsWith(fileName, "\\\\.\\Global\\", prefix))
        global = true;
    else if (!startsWith(fileName, "\\\\.\\", prefix)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    std::shared_ptr<platform::DeviceDriver> driver;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = registry().find(fileName + prefix);
        if (it != registry().end()) {
            const auto where = it->second.where;
            const bool visible = where == platform::DeviceNamespace::LocalAndGlobal
                || (global ? where == platform::DeviceNamespace::GlobalOnly
                           : where == platform::DeviceNamespace::LocalOnly);
            if (visible)
                driver = it->second.driver;
        }
    }
    if (!driver) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_GEN_FAILURE;
    auto file = driver->open(desiredAccess, &error);
    if (!file) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // The handle owns the object until CloseHandle.
    auto* object = new KernelObject;
    object->file = std::move(file);
    SetLastError(ERROR_SUCCESS);
    return object;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, void*)
{
    KernelObject* object = objectOf(device);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD returned = 0;
    DWORD error = ERROR_SUCCESS;
    const bool ok = object->file->control(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                                          &returned, &error);
    if (bytesReturned != nullptr)
        *bytesReturned = returned;
    if (!ok) {
        SetLastError(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    KernelObject* object = objectOf(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->tag = 0;
    delete object;
    return TRUE;
}
